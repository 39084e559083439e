<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="zh_CN">
<context>
    <name>tesmo::MainWindow</name>
    <message>
        <source>AoIP device manager</source>
        <translation>AoIP设备管理器</translation>
    </message>
</context>
<context>
    <name>tesmo::Startup</name>
    <message>
        <source>Print version</source>
        <translation>打印版本</translation>
    </message>
    <message>
        <source>Enable console log</source>
        <translation>启用控制台日志</translation>
    </message>
</context>
</TS>