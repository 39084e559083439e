<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="ko_KR">
<context>
    <name>tesmo::MainWindow</name>
    <message>
        <source>AoIP device manager</source>
        <translation>AoIP 장치 관리자</translation>
    </message>
</context>
<context>
    <name>tesmo::Startup</name>
    <message>
        <source>Print version</source>
        <translation>버전 출력</translation>
    </message>
    <message>
        <source>Enable console log</source>
        <translation>콘솔 로그 사용</translation>
    </message>
</context>
</TS>