<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="ko_KR">
<context>
    <name>BundleModel</name>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>NAME</source>
        <translation>이름</translation>
    </message>
    <message>
        <source>VERSION</source>
        <translation>버전</translation>
    </message>
    <message>
        <source>SIZE</source>
        <translation>크기</translation>
    </message>
    <message>
        <source>MD5</source>
        <translation>MD5</translation>
    </message>
    <message>
        <source>DESC</source>
        <translation>설명</translation>
    </message>
</context>
<context>
    <name>DeviceConfigurator</name>
    <message>
        <source>Not sent: the request does not fit a datagram</source>
        <translation>보내지 않음: 요청이 데이터그램에 맞지 않습니다</translation>
    </message>
    <message>
        <source>Network config request is sent</source>
        <translation>네트워크 설정 요청을 보냈습니다</translation>
    </message>
    <message>
        <source>App config request is sent</source>
        <translation>앱 설정 요청을 보냈습니다</translation>
    </message>
    <message>
        <source>Volume config request is sent</source>
        <translation>볼륨 설정 요청을 보냈습니다</translation>
    </message>
    <message>
        <source>request is sent</source>
        <translation>요청을 보냈습니다</translation>
    </message>
    <message>
        <source>wifi config request is sent</source>
        <translation>Wi-Fi 설정 요청을 보냈습니다</translation>
    </message>
    <message>
        <source>dev reboot config request is sent</source>
        <translation>재부팅 예약 요청을 보냈습니다</translation>
    </message>
    <message>
        <source>DBUpperBound config request is sent</source>
        <translation>레벨 상한 설정 요청을 보냈습니다</translation>
    </message>
    <message>
        <source>Play sound request is sent</source>
        <translation>소리 재생 요청을 보냈습니다</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>확인</translation>
    </message>
    <message>
        <source>Are you sure to reboot the selected deivce?</source>
        <translation>선택한 장치를 재부팅하시겠습니까?</translation>
    </message>
    <message>
        <source>Reboot request is sent</source>
        <translation>재부팅 요청을 보냈습니다</translation>
    </message>
    <message>
        <source>check filesystem status request is sent</source>
        <translation>파일 시스템 검사 요청을 보냈습니다</translation>
    </message>
    <message>
        <source>result</source>
        <translation>결과</translation>
    </message>
    <message>
        <source>文件系统正常</source>
        <translation>파일 시스템 정상</translation>
    </message>
    <message>
        <source>Not sent: a value contains ';'</source>
        <translation>보내지 않음: 값에 ';'가 있습니다</translation>
    </message>
</context>
<context>
    <name>DeviceDiscovery</name>
    <message>
        <source>%1 devices</source>
        <translation>장치 %1대</translation>
    </message>
</context>
<context>
    <name>DeviceSelectionModel</name>
    <message>
        <source>ROW_NUM</source>
        <translation>번호</translation>
    </message>
    <message>
        <source>DEV_ID</source>
        <translation>장치 ID</translation>
    </message>
    <message>
        <source>DEV_NAME</source>
        <translation>장치 이름</translation>
    </message>
    <message>
        <source>BROADCAST_SERVER</source>
        <translation>방송 서버</translation>
    </message>
    <message>
        <source>BROADCAST_PORT</source>
        <translation>방송 포트</translation>
    </message>
    <message>
        <source>AI_VOLUME</source>
        <translation>입력 볼륨</translation>
    </message>
    <message>
        <source>AO_VOLUME</source>
        <translation>출력 볼륨</translation>
    </message>
    <message>
        <source>INPUT_DB_UPPER_BOUND</source>
        <translation>입력 레벨 상한</translation>
    </message>
    <message>
        <source>OUTPUT_DB_UPPER_BOUND</source>
        <translation>출력 레벨 상한</translation>
    </message>
    <message>
        <source>REBOOT_ENABLE</source>
        <translation>예약 재부팅</translation>
    </message>
    <message>
        <source>REBOOT_AT</source>
        <translation>재부팅 시각</translation>
    </message>
    <message>
        <source>NOTICE</source>
        <translation>알림</translation>
    </message>
    <message>
        <source>(empty)</source>
        <translation>(비어 있음)</translation>
    </message>
</context>
<context>
    <name>DeviceTtsPlayDlg</name>
    <message>
        <source>xiaoyan</source>
        <translation>샤오옌</translation>
    </message>
    <message>
        <source>xiaofeng</source>
        <translation>샤오펑</translation>
    </message>
    <message>
        <source>Devices Setting</source>
        <translation>장치 설정</translation>
    </message>
    <message>
        <source>Devices Info</source>
        <translation>장치 정보</translation>
    </message>
    <message>
        <source>tts播报</source>
        <translation>음성 방송</translation>
    </message>
    <message>
        <source>请输入要播放的文字</source>
        <translation>재생할 텍스트를 입력하세요</translation>
    </message>
    <message>
        <source>volume: </source>
        <translation>볼륨: </translation>
    </message>
    <message>
        <source>speed: </source>
        <translation>속도: </translation>
    </message>
    <message>
        <source>vcn: </source>
        <translation>음성: </translation>
    </message>
    <message>
        <source>Close Window</source>
        <translation>창 닫기</translation>
    </message>
    <message>
        <source>Start Play</source>
        <translation>방송 시작</translation>
    </message>
    <message>
        <source>no permission</source>
        <translation>권한 없음</translation>
    </message>
    <message>
        <source>send play tts success</source>
        <translation>음성 방송 요청을 보냈습니다</translation>
    </message>
</context>
<context>
    <name>DevicesModel</name>
    <message>
        <source>ROW_NUM</source>
        <translation>번호</translation>
    </message>
    <message>
        <source>DEV_ID</source>
        <translation>장치 ID</translation>
    </message>
    <message>
        <source>HW_ADDR</source>
        <translation>MAC 주소</translation>
    </message>
    <message>
        <source>DEV_SERIAL</source>
        <translation>일련번호</translation>
    </message>
    <message>
        <source>DEV_NAME</source>
        <translation>장치 이름</translation>
    </message>
    <message>
        <source>AV</source>
        <translation>앱 버전</translation>
    </message>
    <message>
        <source>PELZO版本</source>
        <translation>Pelzo 버전</translation>
    </message>
    <message>
        <source>ICCID</source>
        <translation>ICCID</translation>
    </message>
    <message>
        <source>BOOT_SOUND</source>
        <translation>부팅 사운드</translation>
    </message>
    <message>
        <source>PROTO</source>
        <translation>주소 방식</translation>
    </message>
    <message>
        <source>ADDRESS</source>
        <translation>IP 주소</translation>
    </message>
    <message>
        <source>NETMASK</source>
        <translation>서브넷 마스크</translation>
    </message>
    <message>
        <source>GATEWAY</source>
        <translation>게이트웨이</translation>
    </message>
    <message>
        <source>SERVER</source>
        <translation>서버</translation>
    </message>
    <message>
        <source>PORT</source>
        <translation>포트</translation>
    </message>
    <message>
        <source>AO_VOLUME</source>
        <translation>출력 볼륨</translation>
    </message>
    <message>
        <source>AI_VOLUME</source>
        <translation>입력 볼륨</translation>
    </message>
    <message>
        <source>WIFI_NAME</source>
        <translation>Wi-Fi 이름</translation>
    </message>
    <message>
        <source>WIFI_PWD</source>
        <translation>Wi-Fi 비밀번호</translation>
    </message>
    <message>
        <source>TIME</source>
        <translation>시간</translation>
    </message>
    <message>
        <source>INPUT_DB_UPPER_BOUND</source>
        <translation>입력 레벨 상한</translation>
    </message>
    <message>
        <source>OUTPUT_DB_UPPER_BOUND</source>
        <translation>출력 레벨 상한</translation>
    </message>
    <message>
        <source>REBOOT_ENABLE</source>
        <translation>예약 재부팅</translation>
    </message>
    <message>
        <source>REBOOT_AT</source>
        <translation>재부팅 시각</translation>
    </message>
    <message>
        <source>NOTICE</source>
        <translation>알림</translation>
    </message>
    <message>
        <source>(empty)</source>
        <translation>(비어 있음)</translation>
    </message>
</context>
<context>
    <name>IFaceDlg</name>
    <message>
        <source>请选择要扫描的网段</source>
        <translation>검색할 네트워크 대역을 선택하세요</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>확인</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>취소</translation>
    </message>
</context>
<context>
    <name>KubBundle</name>
    <message>
        <source>暂不支持kub升级包</source>
        <translation>KUB 업데이트 패키지는 아직 지원되지 않습니다</translation>
    </message>
    <message>
        <source>不支持文件名后缀: </source>
        <translation>지원되지 않는 파일 확장자: </translation>
    </message>
    <message>
        <source>文件不存在或损坏</source>
        <translation>파일이 없거나 손상되었습니다</translation>
    </message>
    <message>
        <source>该文件不是有效的升级包</source>
        <translation>유효한 업데이트 패키지가 아닙니다</translation>
    </message>
    <message>
        <source>索引文件格式错误</source>
        <translation>번들 색인 형식이 잘못되었습니다</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>所有终端</source>
        <translation>모든 단말</translation>
    </message>
    <message>
        <source>音箱音柱</source>
        <translation>스피커</translation>
    </message>
    <message>
        <source>寻呼话筒</source>
        <translation>페이징 마이크</translation>
    </message>
    <message>
        <source>按键话筒</source>
        <translation>키패드 마이크</translation>
    </message>
    <message>
        <source>采播终端</source>
        <translation>수음 방송 단말</translation>
    </message>
    <message>
        <source>TTS终端</source>
        <translation>TTS 단말</translation>
    </message>
    <message>
        <source>呼叫终端</source>
        <translation>호출 단말</translation>
    </message>
    <message>
        <source>广播服务</source>
        <translation>방송 서비스</translation>
    </message>
    <message>
        <source>报警终端</source>
        <translation>경보 단말</translation>
    </message>
    <message>
        <source>TTS播报</source>
        <translation>TTS 방송</translation>
    </message>
    <message>
        <source>POC终端1</source>
        <translation>POC 단말 1</translation>
    </message>
    <message>
        <source>POC终端2</source>
        <translation>POC 단말 2</translation>
    </message>
    <message>
        <source>未授权</source>
        <translation>미인증</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>검색</translation>
    </message>
    <message>
        <source>Play sound</source>
        <translation>소리 재생</translation>
    </message>
    <message>
        <source>Play local music</source>
        <translation>로컬 음악 재생</translation>
    </message>
    <message>
        <source>Apply config</source>
        <translation>설정 적용</translation>
    </message>
    <message>
        <source>Revert change</source>
        <translation>변경 취소</translation>
    </message>
    <message>
        <source>Reboot device</source>
        <translation>장치 재부팅</translation>
    </message>
    <message>
        <source>Update device</source>
        <translation>장치 업데이트</translation>
    </message>
    <message>
        <source>Batch setting</source>
        <translation>일괄 설정</translation>
    </message>
    <message>
        <source>tts play</source>
        <translation>TTS 재생</translation>
    </message>
    <message>
        <source>Wifi conn</source>
        <translation>Wi-Fi 연결</translation>
    </message>
    <message>
        <source>Search2</source>
        <translation>대역 검색</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>내보내기</translation>
    </message>
    <message>
        <source>Device Export</source>
        <translation>장치 내보내기</translation>
    </message>
    <message>
        <source>Device Import</source>
        <translation>장치 가져오기</translation>
    </message>
    <message>
        <source>Printer setting</source>
        <translation>프린터 설정</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>언어</translation>
    </message>
    <message>
        <source>keyword search</source>
        <translation>키워드 검색</translation>
    </message>
    <message>
        <source>就绪</source>
        <translation>준비</translation>
    </message>
    <message>
        <source>AoIP device manager</source>
        <translation>AoIP 장치 관리자</translation>
    </message>
    <message>
        <source>检查文件系统</source>
        <translation>파일 시스템 검사</translation>
    </message>
    <message>
        <source>打印设备编码,别名</source>
        <translation>장치 코드 및 이름 인쇄</translation>
    </message>
    <message>
        <source>&amp;Device</source>
        <translation>장치(&amp;D)</translation>
    </message>
    <message>
        <source>"%1" is copied</source>
        <translation>"%1" 복사됨</translation>
    </message>
    <message>
        <source>Copy to clipboard: </source>
        <translation>클립보드에 복사: </translation>
    </message>
</context>
<context>
    <name>MemoryFileServer</name>
    <message>
        <source>完成更新</source>
        <translation>업데이트 완료</translation>
    </message>
</context>
<context>
    <name>PlayLocalMusicDlg</name>
    <message>
        <source>Local Music Play</source>
        <translation>로컬 음악 재생</translation>
    </message>
    <message>
        <source>Play local Music</source>
        <translation>로컬 음악 재생</translation>
    </message>
    <message>
        <source>Loop Playback: </source>
        <translation>반복 재생: </translation>
    </message>
    <message>
        <source>Open music File</source>
        <translation>음악 파일 열기</translation>
    </message>
    <message>
        <source>Start play</source>
        <translation>재생 시작</translation>
    </message>
    <message>
        <source>Stop play</source>
        <translation>재생 중지</translation>
    </message>
    <message>
        <source>Close Window</source>
        <translation>창 닫기</translation>
    </message>
    <message>
        <source>请选择需要播放的音频: </source>
        <translation>재생할 오디오를 선택하세요: </translation>
    </message>
    <message>
        <source>播放文件为: </source>
        <translation>재생 파일: </translation>
    </message>
    <message>
        <source>Open Audio File</source>
        <translation>오디오 파일 열기</translation>
    </message>
    <message>
        <source>All Files (*.*)</source>
        <translation>모든 파일 (*.*)</translation>
    </message>
    <message>
        <source>error</source>
        <translation>오류</translation>
    </message>
    <message>
        <source>音频播放失败, 请确认选择文件是否正确</source>
        <translation>오디오를 재생하지 못했습니다. 선택한 파일이 올바른지 확인하세요.</translation>
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