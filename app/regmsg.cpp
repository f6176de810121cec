// The registered window messages, numbered while the process initialises its
// static data.
#include "app/instance.h"

const UINT g_msgUninstall = RegisterWindowMessageW(L"Xel_MGR_UNINSTALL_QOR");
const UINT g_msgShowWindow = RegisterWindowMessageW(L"Xel_MGR_STARTMENU_SHOWWND_QOR");
const UINT g_msgInitUsbKey = RegisterWindowMessageW(L"Xel_MGR_INITUSBKEYMSGID_QOR");
const UINT g_msgImportCert = RegisterWindowMessageW(L"Xel_MGR_IMPORTCERTMSGID_QOR");
const UINT g_msgRefreshPin = RegisterWindowMessageW(L"Xel_MGR_TOOL_REFRESHPIN_QOR");
