#pragma once
// The file choosers of the load, save and boot windows.

#include <QString>

class QWidget;

namespace app {

// Open: the two-extension filter users of the radio know first, then every S-Record extension
// met on Linux, then all files.
inline const char kSRecordOpenFilter[] =
    "S-Record Files (*.hex *.s19);;"
    "All S-Record Files (*.s19 *.s28 *.s37 *.srec *.mot *.hex);;"
    "All files (*)";
inline const char kSRecordSaveFilter[] = "S-Record files (*.hex *.s19 *.sum *.cp);;All files (*)";

// An existing file, starting from current; empty when the user cancels.
QString ChooseSRecordToOpen(QWidget* parent, const QString& current);
// A file to write (default extension hex, asking before an existing file is replaced); empty
// when the user cancels.
QString ChooseSRecordToSave(QWidget* parent, const QString& current);

// The file a wire trace goes to (default extension trace); empty when the user cancels.
QString ChooseTraceToSave(QWidget* parent, const QString& current);
// The history's CSV file (default extension csv); empty when the user cancels.
QString ChooseCsvToSave(QWidget* parent, const QString& current);

}  // namespace app
