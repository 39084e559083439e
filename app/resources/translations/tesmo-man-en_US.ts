<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="en_US">
<context>
    <name>tesmo::MainWindow</name>
    <message>
        <source>AoIP device manager</source>
        <translation>AoIP device manager</translation>
    </message>
</context>
<context>
    <name>tesmo::Startup</name>
    <message>
        <source>Print version</source>
        <translation>Print version</translation>
    </message>
    <message>
        <source>Enable console log</source>
        <translation>Enable console log</translation>
    </message>
</context>
</TS>