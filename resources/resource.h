#pragma once
// Resource identifiers, shared by the .rc file and the code.

#define LUMORA_TITLE "Lumora"
#define LUMORA_VERSION_BLOCK "041104B0"

// Lowest icon id first: Explorer shows it as the file's icon.
#define IDI_APP 1
#define IDI_FORM1 2

// String 1 is also what the display settings list the screen saver as.
#define IDS_APP_TITLE 1

#define IDR_MENU_FORM2 100
#define IDM_MENU_VERSION 1001
