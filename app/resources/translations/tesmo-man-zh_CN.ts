<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="zh_CN">
<context>
    <name>BundleModel</name>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>NAME</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>VERSION</source>
        <translation>版本</translation>
    </message>
    <message>
        <source>SIZE</source>
        <translation>大小</translation>
    </message>
    <message>
        <source>MD5</source>
        <translation>MD5</translation>
    </message>
    <message>
        <source>DESC</source>
        <translation>描述</translation>
    </message>
</context>
<context>
    <name>DeviceConfigurator</name>
    <message>
        <source>Not sent: the request does not fit a datagram</source>
        <translation>未发送：请求超出数据报容量</translation>
    </message>
    <message>
        <source>Network config request is sent</source>
        <translation>网络配置请求已发送</translation>
    </message>
    <message>
        <source>App config request is sent</source>
        <translation>应用配置请求已发送</translation>
    </message>
    <message>
        <source>Volume config request is sent</source>
        <translation>音量配置请求已发送</translation>
    </message>
    <message>
        <source>request is sent</source>
        <translation>请求已发送</translation>
    </message>
    <message>
        <source>wifi config request is sent</source>
        <translation>Wi-Fi配置请求已发送</translation>
    </message>
    <message>
        <source>dev reboot config request is sent</source>
        <translation>定时重启配置请求已发送</translation>
    </message>
    <message>
        <source>DBUpperBound config request is sent</source>
        <translation>电平上限配置请求已发送</translation>
    </message>
    <message>
        <source>Play sound request is sent</source>
        <translation>播放声音请求已发送</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>Are you sure to reboot the selected deivce?</source>
        <translation>确定要重启所选设备吗？</translation>
    </message>
    <message>
        <source>Reboot request is sent</source>
        <translation>重启请求已发送</translation>
    </message>
    <message>
        <source>check filesystem status request is sent</source>
        <translation>文件系统检查请求已发送</translation>
    </message>
    <message>
        <source>result</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>文件系统正常</source>
        <translation>文件系统正常</translation>
    </message>
    <message>
        <source>Not sent: a value contains ';'</source>
        <translation>未发送：值中含有 ';'</translation>
    </message>
</context>
<context>
    <name>DeviceDiscovery</name>
    <message>
        <source>%1 devices</source>
        <translation>%1 台设备</translation>
    </message>
</context>
<context>
    <name>DeviceSelectionModel</name>
    <message>
        <source>ROW_NUM</source>
        <translation>序号</translation>
    </message>
    <message>
        <source>DEV_ID</source>
        <translation>设备ID</translation>
    </message>
    <message>
        <source>DEV_NAME</source>
        <translation>设备名称</translation>
    </message>
    <message>
        <source>BROADCAST_SERVER</source>
        <translation>广播服务器</translation>
    </message>
    <message>
        <source>BROADCAST_PORT</source>
        <translation>广播端口</translation>
    </message>
    <message>
        <source>AI_VOLUME</source>
        <translation>输入音量</translation>
    </message>
    <message>
        <source>AO_VOLUME</source>
        <translation>输出音量</translation>
    </message>
    <message>
        <source>INPUT_DB_UPPER_BOUND</source>
        <translation>输入电平上限</translation>
    </message>
    <message>
        <source>OUTPUT_DB_UPPER_BOUND</source>
        <translation>输出电平上限</translation>
    </message>
    <message>
        <source>REBOOT_ENABLE</source>
        <translation>定时重启</translation>
    </message>
    <message>
        <source>REBOOT_AT</source>
        <translation>重启时间</translation>
    </message>
    <message>
        <source>NOTICE</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>(empty)</source>
        <translation>（空）</translation>
    </message>
</context>
<context>
    <name>DeviceTtsPlayDlg</name>
    <message>
        <source>xiaoyan</source>
        <translation>小燕</translation>
    </message>
    <message>
        <source>xiaofeng</source>
        <translation>小峰</translation>
    </message>
    <message>
        <source>Devices Setting</source>
        <translation>设备设置</translation>
    </message>
    <message>
        <source>Devices Info</source>
        <translation>设备信息</translation>
    </message>
    <message>
        <source>tts播报</source>
        <translation>语音播报</translation>
    </message>
    <message>
        <source>请输入要播放的文字</source>
        <translation>请输入要播放的文字</translation>
    </message>
    <message>
        <source>volume: </source>
        <translation>音量: </translation>
    </message>
    <message>
        <source>speed: </source>
        <translation>语速: </translation>
    </message>
    <message>
        <source>vcn: </source>
        <translation>发音人: </translation>
    </message>
    <message>
        <source>Close Window</source>
        <translation>关闭窗口</translation>
    </message>
    <message>
        <source>Start Play</source>
        <translation>开始播报</translation>
    </message>
    <message>
        <source>no permission</source>
        <translation>无权限</translation>
    </message>
    <message>
        <source>send play tts success</source>
        <translation>语音播报已发送</translation>
    </message>
</context>
<context>
    <name>DevicesModel</name>
    <message>
        <source>ROW_NUM</source>
        <translation>序号</translation>
    </message>
    <message>
        <source>DEV_ID</source>
        <translation>设备ID</translation>
    </message>
    <message>
        <source>HW_ADDR</source>
        <translation>MAC地址</translation>
    </message>
    <message>
        <source>DEV_SERIAL</source>
        <translation>序列号</translation>
    </message>
    <message>
        <source>DEV_NAME</source>
        <translation>设备名称</translation>
    </message>
    <message>
        <source>AV</source>
        <translation>应用版本</translation>
    </message>
    <message>
        <source>PELZO版本</source>
        <translation>PELZO版本</translation>
    </message>
    <message>
        <source>ICCID</source>
        <translation>ICCID</translation>
    </message>
    <message>
        <source>BOOT_SOUND</source>
        <translation>开机提示音</translation>
    </message>
    <message>
        <source>PROTO</source>
        <translation>地址模式</translation>
    </message>
    <message>
        <source>ADDRESS</source>
        <translation>IP地址</translation>
    </message>
    <message>
        <source>NETMASK</source>
        <translation>子网掩码</translation>
    </message>
    <message>
        <source>GATEWAY</source>
        <translation>网关</translation>
    </message>
    <message>
        <source>SERVER</source>
        <translation>服务器</translation>
    </message>
    <message>
        <source>PORT</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>AO_VOLUME</source>
        <translation>输出音量</translation>
    </message>
    <message>
        <source>AI_VOLUME</source>
        <translation>输入音量</translation>
    </message>
    <message>
        <source>WIFI_NAME</source>
        <translation>WiFi名称</translation>
    </message>
    <message>
        <source>WIFI_PWD</source>
        <translation>WiFi密码</translation>
    </message>
    <message>
        <source>TIME</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>INPUT_DB_UPPER_BOUND</source>
        <translation>输入电平上限</translation>
    </message>
    <message>
        <source>OUTPUT_DB_UPPER_BOUND</source>
        <translation>输出电平上限</translation>
    </message>
    <message>
        <source>REBOOT_ENABLE</source>
        <translation>定时重启</translation>
    </message>
    <message>
        <source>REBOOT_AT</source>
        <translation>重启时间</translation>
    </message>
    <message>
        <source>NOTICE</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>(empty)</source>
        <translation>（空）</translation>
    </message>
</context>
<context>
    <name>IFaceDlg</name>
    <message>
        <source>请选择要扫描的网段</source>
        <translation>请选择要扫描的网段</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>KubBundle</name>
    <message>
        <source>暂不支持kub升级包</source>
        <translation>暂不支持kub升级包</translation>
    </message>
    <message>
        <source>不支持文件名后缀: </source>
        <translation>不支持文件名后缀: </translation>
    </message>
    <message>
        <source>文件不存在或损坏</source>
        <translation>文件不存在或损坏</translation>
    </message>
    <message>
        <source>该文件不是有效的升级包</source>
        <translation>该文件不是有效的升级包</translation>
    </message>
    <message>
        <source>索引文件格式错误</source>
        <translation>索引文件格式错误</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>所有终端</source>
        <translation>所有终端</translation>
    </message>
    <message>
        <source>音箱音柱</source>
        <translation>音箱音柱</translation>
    </message>
    <message>
        <source>寻呼话筒</source>
        <translation>寻呼话筒</translation>
    </message>
    <message>
        <source>按键话筒</source>
        <translation>按键话筒</translation>
    </message>
    <message>
        <source>采播终端</source>
        <translation>采播终端</translation>
    </message>
    <message>
        <source>TTS终端</source>
        <translation>TTS终端</translation>
    </message>
    <message>
        <source>呼叫终端</source>
        <translation>呼叫终端</translation>
    </message>
    <message>
        <source>广播服务</source>
        <translation>广播服务</translation>
    </message>
    <message>
        <source>报警终端</source>
        <translation>报警终端</translation>
    </message>
    <message>
        <source>TTS播报</source>
        <translation>TTS播报</translation>
    </message>
    <message>
        <source>POC终端1</source>
        <translation>POC终端1</translation>
    </message>
    <message>
        <source>POC终端2</source>
        <translation>POC终端2</translation>
    </message>
    <message>
        <source>未授权</source>
        <translation>未授权</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>搜索</translation>
    </message>
    <message>
        <source>Play sound</source>
        <translation>播放提示音</translation>
    </message>
    <message>
        <source>Play local music</source>
        <translation>播放本地音乐</translation>
    </message>
    <message>
        <source>Apply config</source>
        <translation>应用配置</translation>
    </message>
    <message>
        <source>Revert change</source>
        <translation>撤销修改</translation>
    </message>
    <message>
        <source>Reboot device</source>
        <translation>重启设备</translation>
    </message>
    <message>
        <source>Update device</source>
        <translation>升级设备</translation>
    </message>
    <message>
        <source>Batch setting</source>
        <translation>批量设置</translation>
    </message>
    <message>
        <source>tts play</source>
        <translation>语音播报</translation>
    </message>
    <message>
        <source>Wifi conn</source>
        <translation>WiFi连接</translation>
    </message>
    <message>
        <source>Search2</source>
        <translation>网段搜索</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>导出</translation>
    </message>
    <message>
        <source>Device Export</source>
        <translation>设备导出</translation>
    </message>
    <message>
        <source>Device Import</source>
        <translation>设备导入</translation>
    </message>
    <message>
        <source>Printer setting</source>
        <translation>打印设置</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>keyword search</source>
        <translation>关键字搜索</translation>
    </message>
    <message>
        <source>就绪</source>
        <translation>就绪</translation>
    </message>
    <message>
        <source>AoIP device manager</source>
        <translation>AoIP设备管理器</translation>
    </message>
    <message>
        <source>检查文件系统</source>
        <translation>检查文件系统</translation>
    </message>
    <message>
        <source>打印设备编码,别名</source>
        <translation>打印设备编码,别名</translation>
    </message>
    <message>
        <source>&amp;Device</source>
        <translation>设备(&amp;D)</translation>
    </message>
    <message>
        <source>"%1" is copied</source>
        <translation>“%1”已复制</translation>
    </message>
    <message>
        <source>Copy to clipboard: </source>
        <translation>复制到剪贴板：</translation>
    </message>
</context>
<context>
    <name>MemoryFileServer</name>
    <message>
        <source>完成更新</source>
        <translation>完成更新</translation>
    </message>
</context>
<context>
    <name>PlayLocalMusicDlg</name>
    <message>
        <source>Local Music Play</source>
        <translation>本地音乐播放</translation>
    </message>
    <message>
        <source>Play local Music</source>
        <translation>播放本地音乐</translation>
    </message>
    <message>
        <source>Loop Playback: </source>
        <translation>循环播放: </translation>
    </message>
    <message>
        <source>Open music File</source>
        <translation>打开音乐文件</translation>
    </message>
    <message>
        <source>Start play</source>
        <translation>开始播放</translation>
    </message>
    <message>
        <source>Stop play</source>
        <translation>停止播放</translation>
    </message>
    <message>
        <source>Close Window</source>
        <translation>关闭窗口</translation>
    </message>
    <message>
        <source>请选择需要播放的音频: </source>
        <translation>请选择需要播放的音频: </translation>
    </message>
    <message>
        <source>播放文件为: </source>
        <translation>播放文件为: </translation>
    </message>
    <message>
        <source>Open Audio File</source>
        <translation>打开音频文件</translation>
    </message>
    <message>
        <source>All Files (*.*)</source>
        <translation>所有文件 (*.*)</translation>
    </message>
    <message>
        <source>error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>音频播放失败, 请确认选择文件是否正确</source>
        <translation>音频播放失败, 请确认选择文件是否正确</translation>
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