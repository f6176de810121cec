// Templates of the window-layer tests.
#pragma once
#define IDD_TEST_PLAIN    200
#define IDD_TEST_VISIBLE  201
#define IDC_TEST_EDIT     300
#define IDC_TEST_LIST     301
