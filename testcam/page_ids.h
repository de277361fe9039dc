// The settings page's dialog template and controls, for the page, its .rc and the tests.
#pragma once

#define IDD_PICTURE_PAGE 100
#define IDC_BRIGHTNESS 1001
#define IDC_BRIGHTNESS_VALUE 1002
#define IDC_CONTRAST 1003
#define IDC_CONTRAST_VALUE 1004
