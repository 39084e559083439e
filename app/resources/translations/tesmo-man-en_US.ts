<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="en_US">
<context>
    <name>BundleModel</name>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>NAME</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>VERSION</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>SIZE</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>MD5</source>
        <translation>MD5</translation>
    </message>
    <message>
        <source>DESC</source>
        <translation>Description</translation>
    </message>
</context>
<context>
    <name>DeviceConfigurator</name>
    <message>
        <source>Not sent: the request does not fit a datagram</source>
        <translation>Not sent: the request does not fit a datagram</translation>
    </message>
    <message>
        <source>Network config request is sent</source>
        <translation>Network config request is sent</translation>
    </message>
    <message>
        <source>App config request is sent</source>
        <translation>App config request is sent</translation>
    </message>
    <message>
        <source>Volume config request is sent</source>
        <translation>Volume config request is sent</translation>
    </message>
    <message>
        <source>request is sent</source>
        <translation>Request is sent</translation>
    </message>
    <message>
        <source>wifi config request is sent</source>
        <translation>Wi-Fi config request is sent</translation>
    </message>
    <message>
        <source>dev reboot config request is sent</source>
        <translation>Reboot schedule request is sent</translation>
    </message>
    <message>
        <source>DBUpperBound config request is sent</source>
        <translation>Level bound config request is sent</translation>
    </message>
    <message>
        <source>Play sound request is sent</source>
        <translation>Play sound request is sent</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>Are you sure to reboot the selected deivce?</source>
        <translation>Are you sure to reboot the selected device?</translation>
    </message>
    <message>
        <source>Reboot request is sent</source>
        <translation>Reboot request is sent</translation>
    </message>
    <message>
        <source>check filesystem status request is sent</source>
        <translation>File system check request is sent</translation>
    </message>
    <message>
        <source>result</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>文件系统正常</source>
        <translation>File system is healthy</translation>
    </message>
    <message>
        <source>Not sent: a value contains ';'</source>
        <translation>Not sent: a value contains ';'</translation>
    </message>
</context>
<context>
    <name>DeviceDiscovery</name>
    <message>
        <source>%1 devices</source>
        <translation>%1 devices</translation>
    </message>
</context>
<context>
    <name>DeviceSelectionModel</name>
    <message>
        <source>ROW_NUM</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>DEV_ID</source>
        <translation>Device ID</translation>
    </message>
    <message>
        <source>DEV_NAME</source>
        <translation>Device name</translation>
    </message>
    <message>
        <source>BROADCAST_SERVER</source>
        <translation>Broadcast server</translation>
    </message>
    <message>
        <source>BROADCAST_PORT</source>
        <translation>Broadcast port</translation>
    </message>
    <message>
        <source>AI_VOLUME</source>
        <translation>Input volume</translation>
    </message>
    <message>
        <source>AO_VOLUME</source>
        <translation>Output volume</translation>
    </message>
    <message>
        <source>INPUT_DB_UPPER_BOUND</source>
        <translation>Input level limit</translation>
    </message>
    <message>
        <source>OUTPUT_DB_UPPER_BOUND</source>
        <translation>Output level limit</translation>
    </message>
    <message>
        <source>REBOOT_ENABLE</source>
        <translation>Scheduled reboot</translation>
    </message>
    <message>
        <source>REBOOT_AT</source>
        <translation>Reboot at</translation>
    </message>
    <message>
        <source>NOTICE</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>(empty)</source>
        <translation>(empty)</translation>
    </message>
</context>
<context>
    <name>DeviceTtsPlayDlg</name>
    <message>
        <source>xiaoyan</source>
        <translation>Xiaoyan</translation>
    </message>
    <message>
        <source>xiaofeng</source>
        <translation>Xiaofeng</translation>
    </message>
    <message>
        <source>Devices Setting</source>
        <translation>Device settings</translation>
    </message>
    <message>
        <source>Devices Info</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>tts播报</source>
        <translation>TTS</translation>
    </message>
    <message>
        <source>请输入要播放的文字</source>
        <translation>enter the text to speak</translation>
    </message>
    <message>
        <source>volume: </source>
        <translation>Volume: </translation>
    </message>
    <message>
        <source>speed: </source>
        <translation>Speed: </translation>
    </message>
    <message>
        <source>vcn: </source>
        <translation>Voice: </translation>
    </message>
    <message>
        <source>Close Window</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Start Play</source>
        <translation>Speak</translation>
    </message>
    <message>
        <source>no permission</source>
        <translation>No permission</translation>
    </message>
    <message>
        <source>send play tts success</source>
        <translation>Speech request sent</translation>
    </message>
</context>
<context>
    <name>DevicesModel</name>
    <message>
        <source>ROW_NUM</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>DEV_ID</source>
        <translation>Device ID</translation>
    </message>
    <message>
        <source>HW_ADDR</source>
        <translation>MAC address</translation>
    </message>
    <message>
        <source>DEV_SERIAL</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>DEV_NAME</source>
        <translation>Device name</translation>
    </message>
    <message>
        <source>AV</source>
        <translation>App version</translation>
    </message>
    <message>
        <source>PELZO版本</source>
        <translation>Pelzo version</translation>
    </message>
    <message>
        <source>ICCID</source>
        <translation>ICCID</translation>
    </message>
    <message>
        <source>BOOT_SOUND</source>
        <translation>Boot sound</translation>
    </message>
    <message>
        <source>PROTO</source>
        <translation>Address mode</translation>
    </message>
    <message>
        <source>ADDRESS</source>
        <translation>IP address</translation>
    </message>
    <message>
        <source>NETMASK</source>
        <translation>Netmask</translation>
    </message>
    <message>
        <source>GATEWAY</source>
        <translation>Gateway</translation>
    </message>
    <message>
        <source>SERVER</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>PORT</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>AO_VOLUME</source>
        <translation>Output volume</translation>
    </message>
    <message>
        <source>AI_VOLUME</source>
        <translation>Input volume</translation>
    </message>
    <message>
        <source>WIFI_NAME</source>
        <translation>Wi-Fi name</translation>
    </message>
    <message>
        <source>WIFI_PWD</source>
        <translation>Wi-Fi password</translation>
    </message>
    <message>
        <source>TIME</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>INPUT_DB_UPPER_BOUND</source>
        <translation>Input level limit</translation>
    </message>
    <message>
        <source>OUTPUT_DB_UPPER_BOUND</source>
        <translation>Output level limit</translation>
    </message>
    <message>
        <source>REBOOT_ENABLE</source>
        <translation>Scheduled reboot</translation>
    </message>
    <message>
        <source>REBOOT_AT</source>
        <translation>Reboot at</translation>
    </message>
    <message>
        <source>NOTICE</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>(empty)</source>
        <translation>(empty)</translation>
    </message>
</context>
<context>
    <name>IFaceDlg</name>
    <message>
        <source>请选择要扫描的网段</source>
        <translation>Choose the network segment to scan</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>KubBundle</name>
    <message>
        <source>暂不支持kub升级包</source>
        <translation>KUB bundles are not supported yet</translation>
    </message>
    <message>
        <source>不支持文件名后缀: </source>
        <translation>Unsupported file name suffix: </translation>
    </message>
    <message>
        <source>文件不存在或损坏</source>
        <translation>The file does not exist or is damaged</translation>
    </message>
    <message>
        <source>该文件不是有效的升级包</source>
        <translation>This file is not a valid update bundle</translation>
    </message>
    <message>
        <source>索引文件格式错误</source>
        <translation>The bundle index is malformed</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>所有终端</source>
        <translation>All terminals</translation>
    </message>
    <message>
        <source>音箱音柱</source>
        <translation>Speakers</translation>
    </message>
    <message>
        <source>寻呼话筒</source>
        <translation>Paging microphones</translation>
    </message>
    <message>
        <source>按键话筒</source>
        <translation>Keypad microphones</translation>
    </message>
    <message>
        <source>采播终端</source>
        <translation>Capture terminals</translation>
    </message>
    <message>
        <source>TTS终端</source>
        <translation>TTS terminals</translation>
    </message>
    <message>
        <source>呼叫终端</source>
        <translation>Intercom terminals</translation>
    </message>
    <message>
        <source>广播服务</source>
        <translation>Broadcast service</translation>
    </message>
    <message>
        <source>报警终端</source>
        <translation>Alarm terminals</translation>
    </message>
    <message>
        <source>TTS播报</source>
        <translation>TTS announcers</translation>
    </message>
    <message>
        <source>POC终端1</source>
        <translation>POC terminals 1</translation>
    </message>
    <message>
        <source>POC终端2</source>
        <translation>POC terminals 2</translation>
    </message>
    <message>
        <source>未授权</source>
        <translation>Unlicensed</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>Play sound</source>
        <translation>Play sound</translation>
    </message>
    <message>
        <source>Play local music</source>
        <translation>Play local music</translation>
    </message>
    <message>
        <source>Apply config</source>
        <translation>Apply config</translation>
    </message>
    <message>
        <source>Revert change</source>
        <translation>Revert change</translation>
    </message>
    <message>
        <source>Reboot device</source>
        <translation>Reboot device</translation>
    </message>
    <message>
        <source>Update device</source>
        <translation>Update device</translation>
    </message>
    <message>
        <source>Batch setting</source>
        <translation>Batch setting</translation>
    </message>
    <message>
        <source>tts play</source>
        <translation>TTS play</translation>
    </message>
    <message>
        <source>Wifi conn</source>
        <translation>Wi-Fi connect</translation>
    </message>
    <message>
        <source>Search2</source>
        <translation>Range search</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>Device Export</source>
        <translation>Device export</translation>
    </message>
    <message>
        <source>Device Import</source>
        <translation>Device import</translation>
    </message>
    <message>
        <source>Printer setting</source>
        <translation>Printer settings</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>keyword search</source>
        <translation>Keyword search</translation>
    </message>
    <message>
        <source>就绪</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>AoIP device manager</source>
        <translation>AoIP device manager</translation>
    </message>
    <message>
        <source>检查文件系统</source>
        <translation>Check file system</translation>
    </message>
    <message>
        <source>打印设备编码,别名</source>
        <translation>Print device code and name</translation>
    </message>
    <message>
        <source>&amp;Device</source>
        <translation>&amp;Device</translation>
    </message>
    <message>
        <source>"%1" is copied</source>
        <translation>"%1" is copied</translation>
    </message>
    <message>
        <source>Copy to clipboard: </source>
        <translation>Copy to clipboard: </translation>
    </message>
</context>
<context>
    <name>MemoryFileServer</name>
    <message>
        <source>完成更新</source>
        <translation>Update finished</translation>
    </message>
</context>
<context>
    <name>PlayLocalMusicDlg</name>
    <message>
        <source>Local Music Play</source>
        <translation>Local music playback</translation>
    </message>
    <message>
        <source>Play local Music</source>
        <translation>Play a local file</translation>
    </message>
    <message>
        <source>Loop Playback: </source>
        <translation>Loop playback: </translation>
    </message>
    <message>
        <source>Open music File</source>
        <translation>Open audio file</translation>
    </message>
    <message>
        <source>Start play</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Stop play</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Close Window</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>请选择需要播放的音频: </source>
        <translation>Choose the audio file to play: </translation>
    </message>
    <message>
        <source>播放文件为: </source>
        <translation>Playing file: </translation>
    </message>
    <message>
        <source>Open Audio File</source>
        <translation>Open audio file</translation>
    </message>
    <message>
        <source>All Files (*.*)</source>
        <translation>All files (*.*)</translation>
    </message>
    <message>
        <source>error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>音频播放失败, 请确认选择文件是否正确</source>
        <translation>The file could not be played. Check that the chosen file is an audio file.</translation>
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