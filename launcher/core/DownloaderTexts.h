#pragma once

// Every text the main window shows, as the user sees it. "%s" marks where a
// value goes; the controller fills it in.

namespace launcher::text {

inline constexpr char kHighSpeedHint[] =
    "초고속 다운로드는 다운로드 중일 때만 PC자원을 공유합니다.";
inline constexpr char kInstallNotice[] = "안내 : 다운로드 받은 파일을 검사하고 설치를 실행합니다.";

inline constexpr char kSkinUrlMissing[] = "런처 이미지 다운로드 실패";
inline constexpr char kInitFailed[] = "%s 초기화 실패.";
inline constexpr char kListRequestFailed[] = "파일목록 다운로드 실패";
inline constexpr char kListFailed[] = "파일 리스트 다운로드에 실패하였습니다.";
inline constexpr char kBadUrl[] = "잘못된 URL이 입력 되었습니다.";
inline constexpr char kSizeCheckFailed[] = "파일크기 확인 실패";
inline constexpr char kSkinRequestFailed[] = "스킨 다운로드 실패";
inline constexpr char kSkinFailed[] = "스킨파일 다운로드 실패";
inline constexpr char kNoProtocol[] = "다운로드 받을 수 있는 프로토콜이 존재 하지 않습니다";
inline constexpr char kAgreementNeeded[] =
    "아래 사용 정책에 동의에 체크 하셔야 다운이 가능 합니다.";
inline constexpr char kStopQuestion[] = "다운로드를 중지하겠습니까?";
inline constexpr char kDiskFull[] = "해당 디스크(%s)의 공간이 부족(%s) 합니다.";
inline constexpr char kNetworkDown[] = "고객님 PC의 네트워크 상태가 좋지 않습니다.\n";
inline constexpr char kNetworkBack[] = "고객님 PC의 네트워크가 복구 되었습니다.";
inline constexpr char kDownloadFailed[] =
    "%s 다운로드를 실패 했습니다.\n잠시 후에 다시 시도해 주십시요.";
inline constexpr char kCompleteQuestion[] = "다운로드가 완료 되었습니다.\n지금 실행 하시겠습니까?";
inline constexpr char kNotComplete[] = "다운로드가 완료되지 않았습니다.";
inline constexpr char kInstalling[] =
    "현재 실행파일을 검사 중입니다.\n설치 용량에 따라 수 분의 시간이 소요될 수 있으니 기다려 "
    "주시기 바랍니다.";
inline constexpr char kCloseQuestion[] =
    "창을 닫으시면 %s의 다운로드가 중지됩니다.\n지금 창을 닫으시겠습니까?";
inline constexpr char kHighSpeedQuestion[] =
    "초고속 다운로드 동의를 하지 않을 경우 일반 다운로드로 진행 됩니다.\n일반 다운로드로 "
    "진행하시겠습니까?";

}  // namespace launcher::text
