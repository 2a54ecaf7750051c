#ifndef QUOTELOOM_SHELL_COMMAND_IDS_H
#define QUOTELOOM_SHELL_COMMAND_IDS_H

// Numbers of the shell's commands and resources; every QAction carries its number as object name.
namespace cmd {

inline constexpr int kAutorunOn = 32771;
inline constexpr int kAutorunOff = 32772;
inline constexpr int kFirstWebLink = 32775;
inline constexpr int kLogout = 32804;
inline constexpr int kLogin = 32805;
inline constexpr int kStartReplayService = 32857;
inline constexpr int kStopReplayService = 32858;
inline constexpr int kTimeStreamMode = 32864;
inline constexpr int kPerContractMode = 32865;

inline constexpr int kOpenDataDirectory = 220;
inline constexpr int kCaptionBar = 221;
inline constexpr int kCustomize = 126;
inline constexpr int kWindowManager = 131;
inline constexpr int kHideOutputPane = 149;
inline constexpr int kTrayOpen = 311;
inline constexpr int kTrayExit = 312;

inline constexpr int kFileNew = 57600;
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileClose = 57602;
inline constexpr int kFileSave = 57603;
inline constexpr int kFileSaveAs = 57604;
inline constexpr int kFilePrint = 57607;
inline constexpr int kEditClear = 57632;
inline constexpr int kEditCopy = 57634;
inline constexpr int kEditCut = 57635;
inline constexpr int kEditPaste = 57637;
inline constexpr int kWindowNew = 57648;
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;
inline constexpr int kViewToolbar = 59392;
inline constexpr int kViewStatusBar = 59393;
inline constexpr int kViewAutoArrange = 59397;
inline constexpr int kViewSmallIcon = 59408;
inline constexpr int kViewLargeIcon = 59409;
inline constexpr int kViewList = 59410;
inline constexpr int kViewDetails = 59411;
inline constexpr int kViewLineUp = 59412;
inline constexpr int kViewByName = 59413;

// Visual styles, radio-checked; 210 is the default.
inline constexpr int kFirstLook = 205;
inline constexpr int kDefaultLook = 210;
inline constexpr int kLastLook = 219;

// Menus and resources.
inline constexpr int kMenuNoDocument = 128;
inline constexpr int kMenuWithDocument = 130;
inline constexpr int kTrayMenu = 307;
inline constexpr int kTrayIcon = 308;

}  // namespace cmd

#endif
