#include "app/CommandTable.h"

namespace app {

namespace {
constexpr CommandEntry kMenu[] = {
    {"&File", nullptr, 0, ""},
    {"&File", "E&xit", kIdExit, "Quit the application; prompts to save documents\nExit"},
    {"&View", "&Toolbar", kIdViewToolbar, "Show or hide the toolbar\nToggle ToolBar"},
    {"&View", "&Status Bar", kIdViewStatusBar, "Show or hide the status bar\nToggle StatusBar"},
    {"&ZIMP", "&Row", kIdRow, "Call ZIMP dialog"},
    {"&ZIMP", "&Commands", kIdCommands, "Call standard ZIMP message dialog"},
    {"&Load", "&Boot Load", kIdBootLoad, "QM27 Boot Load File into internal RAM\nBoot Load"},
    {"&Load", "TQV Boot Load", kIdTqvBootLoad, "Ambrel (TQV) Boot Load File into RAM\nTQV Boot"},
    {"&Load", "&Flash", kIdLoadFlash, "Flash programming"},
    {"&Load", "Flash P&ELK/X4410", kIdLoadPelk, "Flash PELK/X4410  programming protocol\n LoadTo"},
    {"&Load", "&RAM", kIdLoadRam, "Write to ram"},
    {"&Load", "&I_EEPROM", kIdLoadInternalEeprom, "Internal EEPROM programming"},
    {"&Load", "&E_EEPROM", kIdLoadExternalEeprom, "External EEPROM programming"},
    {"S&ave", "&Flash", kIdSaveFlash, "Save to disk flash memory contents"},
    {"S&ave", "Flash PELK", kIdSaveFlashPelk,
     "Save flash memory data more than 1 MB\nSave flash data"},
    {"S&ave", "&RAM", kIdSaveRam, "Save to disk RAM contents"},
    {"S&ave", "&I_EEPROM", kIdSaveInternalEeprom, "Save to disk internal EEPROM memory contents"},
    {"S&ave", "&E_EEPROM", kIdSaveExternalEeprom, "Save to disk external memory contents"},
    {"&Configuration", "&Set Port", kIdSetPort, "Set Port Parameters\nSet Port"},
    {"&Configuration", "&Block Size and Echo ", kIdBlockSizeEcho, ""},
    {"&Configuration", "&Write Port and Baudrate", kIdWritePort, ""},
    {"&Help", "&About ZimpProtocol...", kIdAbout,
     "Display program information, version number and copyright\nAbout"},
};
}  // namespace

std::span<const CommandEntry> MenuCommands() {
    return kMenu;
}

}  // namespace app
