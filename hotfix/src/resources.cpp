// The program's resources: its strings, its menu bar and the install cabinet, exported
// as the table the shell reads them from.
#include "hotfix_setup.h"

#ifndef HOTFIX_CABINET_PATH
#error "HOTFIX_CABINET_PATH must name the install cabinet the packaging step wrote"
#endif

// The cabinet's bytes, taken in whole by the assembler.
asm(".section .rodata\n"
    ".balign 4\n"
    ".globl hotfix_cabinet_begin, hotfix_cabinet_size\n"
    ".hidden hotfix_cabinet_begin, hotfix_cabinet_size\n"
    "hotfix_cabinet_begin:\n"
    ".incbin \"" HOTFIX_CABINET_PATH "\"\n"
    "hotfix_cabinet_end:\n"
    ".balign 4\n"
    "hotfix_cabinet_size:\n"
    ".long hotfix_cabinet_end - hotfix_cabinet_begin\n"
    ".previous\n");
extern "C" const BYTE hotfix_cabinet_begin[];
extern "C" const DWORD hotfix_cabinet_size;

namespace {

#define STRING_RESOURCE(id, text) \
  CeResourceEntry { RT_STRING, id, 0, text, static_cast<DWORD>(sizeof(text) - sizeof(WCHAR)) }

struct MenuBarResource {
  SHMENUBARDESC header;
  SHMENUBARBUTTON buttons[2];
};
const MenuBarResource kMenuBar = {
    {IDR_MENUBAR, 2},
    {{I_IMAGENONE, IDM_SETUP, TBSTATE_ENABLED, TBSTYLE_BUTTON | TBSTYLE_AUTOSIZE, IDS_SETUP, 0},
     {I_IMAGENONE, IDM_CANCEL, TBSTATE_ENABLED, TBSTYLE_BUTTON | TBSTYLE_AUTOSIZE, IDS_CANCEL, 0}}};

// The menu behind the bar: its items' commands and texts.
struct MenuItem {
  WORD command;
  WCHAR text[8];
};
const MenuItem kMenu[] = {{IDM_SETUP, u"OK"}, {IDM_CANCEL, u"Cancel"}};

const CeResourceEntry kResources[] = {
    STRING_RESOURCE(IDS_SETUP, u"Setup"),
    STRING_RESOURCE(IDS_CANCEL, u"Cancel"),
    STRING_RESOURCE(IDS_TITLE, u"HotFix Installation"),
    STRING_RESOURCE(IDS_TAP_SETUP, u"Tap Setup button to install"),
    {RT_RCDATA, IDR_MENUBAR, 0, &kMenuBar, sizeof kMenuBar},
    {RT_MENU, IDR_MENUBAR, 0, kMenu, sizeof kMenu},
    {u"BIN", IDR_CABINET, HOTFIX_CABINET_LANGUAGE, hotfix_cabinet_begin, hotfix_cabinet_size},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const CeResourceDirectory CeModuleResources = {
    sizeof kResources / sizeof kResources[0], kResources};
