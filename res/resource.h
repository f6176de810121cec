// Resource ids of quendral.rc: dialog templates, icons, the banner bitmap and
// the controls of each template. Also included by the resource compiler, so
// only #define lines here.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX            100
#define IDD_QUENDRAL_DIALOG     102
#define IDD_SHOWCERT            129
#define IDD_CHGDEVNAME          136
#define IDD_SETTING             137

// Icons (32 x 32) and the banner bitmap (402 x 108, 24 bpp)
#define IDI_MAINFRAME           128
#define IDI_CERT_VALID          129
#define IDI_CERT_INVALID        130
#define IDI_KEY                 131
#define IDB_BANNER              135

// Main dialog (102)
#define IDC_LIST_DEV            1000
#define IDC_LIST_CERT           1001
#define IDC_BTN_CHGDEVNAME      1002
#define IDC_BTN_VERIFYPIN       1003
#define IDC_BTN_CHGPIN          1004
#define IDC_BTN_SHOWCERT        1005
#define IDC_BTN_REGCERT         1006
#define IDC_BTN_SETTING         1007
#define IDC_STATIC_DEVLIST      1008
#define IDC_STATIC_CERTLIST     1009
#define IDC_STATIC_BANNER       1010

// Certificate details dialog (129)
#define IDC_SHOWCERT_SUBJECT    1000
#define IDC_SHOWCERT_ISSUER     1001
#define IDC_SHOWCERT_VALID      1002
#define IDC_SHOWCERT_UNIT       1003
#define IDC_SHOWCERT_LBL_SUBJECT 1004
#define IDC_SHOWCERT_LBL_UNIT   1005
#define IDC_SHOWCERT_LBL_ISSUER 1006
#define IDC_SHOWCERT_LBL_VALID  1007
#define IDC_SHOWCERT_LBL_SERIAL 1008
#define IDC_SHOWCERT_SERIAL     1009
#define IDC_SHOWCERT_LBL_USAGE  1010
#define IDC_SHOWCERT_USAGE      1011

// Change-key-name dialog (136)
#define IDC_CHGNAME_OLD         1011
#define IDC_CHGNAME_NEW         1012
#define IDC_CHGNAME_LBL_OLD     1013
#define IDC_CHGNAME_LBL_NEW     1014
#define IDC_CHGNAME_TIP         1015

// Settings dialog (137)
#define IDC_SETTING_HOMEPAGE    1012

// About dialog (100)
#define IDC_ABOUT_TEXT          1016

// System menu item of the main dialog that opens the about dialog
#define IDM_ABOUTBOX            0x0010

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif
