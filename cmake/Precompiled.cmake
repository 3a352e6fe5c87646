# Precompiled third-party headers. Parsing the GoogleTest and Qt headers is much of what
# compiling a test or a window costs. Only third-party headers go in, so a change to one of ours
# never rebuilds a precompiled header. -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON turns them all off.
# CLI11 and nlohmann-json are left out: what CLI11 costs is the code it generates in every file
# that includes it, which precompiling does not save and forcing it on a whole library multiplies,
# and nlohmann-json is in too few files to repay its own.
#
# A precompiled header serves only compiles with the flags it was made with, and executables
# compile with -fPIE where libraries use -fPIC: so executables share one that an executable of its
# own makes (zimp_pch_holder), and a library makes its own.

# zimp_pch_holder(name HEADERS h... LIBS l...): an executable never built for its own sake, only
# to precompile HEADERS with the flags LIBS bring. Others take it with
# target_precompile_headers(target REUSE_FROM name).
function(zimp_pch_holder name)
  cmake_parse_arguments(P "" "" "HEADERS;LIBS" ${ARGN})
  set(_main ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  file(CONFIGURE OUTPUT ${_main} CONTENT "int main() { return 0; }\n")
  add_executable(${name} EXCLUDE_FROM_ALL ${_main})
  zimp_warnings(${name})
  target_link_libraries(${name} PRIVATE ${P_LIBS})
  target_precompile_headers(${name} PRIVATE ${P_HEADERS})
endfunction()

# zimp_skip_pch_for_mocs(target): the moc file of a target whose Q_OBJECT classes are in its .cpp
# files (each includes its own .moc) is empty; loading a precompiled header for it costs more
# than it saves.
function(zimp_skip_pch_for_mocs target)
  get_target_property(_dir ${target} BINARY_DIR)
  set_source_files_properties(${_dir}/${target}_autogen/mocs_compilation.cpp
    TARGET_DIRECTORY ${target} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
endfunction()

# The Qt headers most of the windows and their tests include.
set(ZIMP_QT_PCH_HEADERS
  <QAction> <QApplication> <QCheckBox> <QCloseEvent> <QComboBox> <QDialog> <QDialogButtonBox>
  <QFileDialog> <QGridLayout> <QHBoxLayout> <QLabel> <QLineEdit> <QMainWindow> <QMenuBar>
  <QMessageBox> <QObject> <QPlainTextEdit> <QPushButton> <QRadioButton> <QSettings> <QStatusBar>
  <QString> <QTableWidget> <QThread> <QTimer> <QToolBar> <QVBoxLayout> <QWidget>)
