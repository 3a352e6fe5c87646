#pragma once
// The main window's commands: menu, item text with its mnemonic, command number and prompt
// (status-bar text, then "\n" and the tool tip). Separators have id 0.

#include <span>

namespace app {

struct CommandEntry {
    const char* menu;
    const char* text;  // nullptr: a separator
    int id;
    const char* prompt;  // "" when the item has none
};

enum CommandId : int {
    kIdRow = 32771,
    kIdCommands = 32772,
    kIdBootLoad = 32773,
    kIdSetPort = 32774,
    kIdLoadFlash = 32775,
    kIdLoadRam = 32776,
    kIdLoadInternalEeprom = 32777,
    kIdLoadExternalEeprom = 32778,
    kIdBlockSizeEcho = 32779,
    kIdSaveFlash = 32784,
    kIdSaveRam = 32785,
    kIdSaveInternalEeprom = 32786,
    kIdSaveExternalEeprom = 32787,
    kIdWritePort = 32788,
    kIdLoadPelk = 32789,
    kIdTqvBootLoad = 32790,
    kIdSaveFlashPelk = 32791,
    kIdNew = 57600,
    kIdOpen = 57601,
    kIdSave = 57603,
    kIdAbout = 57664,
    kIdExit = 57665,
    kIdViewToolbar = 59392,
    kIdViewStatusBar = 59393,
};

std::span<const CommandEntry> MenuCommands();

}  // namespace app
