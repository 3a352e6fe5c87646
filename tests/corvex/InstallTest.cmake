# Installs Corvex into a scratch prefix, moves the installed tree somewhere else (the
# package must not remember where it was installed), then builds and runs the example caller
# against it through find_package(Corvex) and a tiny caller through pkg-config.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=... -P InstallTest.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(LAST_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

# The command must exit 2 with its message naming the option.
function(run_refused option)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 2 OR NOT err MATCHES "${option} takes a number")
    message(FATAL_ERROR "not refused (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(first ${WORK_DIR}/first-prefix)
set(moved ${WORK_DIR}/moved-prefix)

# The library and its development files are two components, as they are two packages.
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${first} --component Corvex)
foreach(f include/corvex/Corvex.h lib/libcorvex.so lib/pkgconfig/corvex.pc)
  if(EXISTS ${first}/${f})
    message(FATAL_ERROR "installed with the library, not with its development files: ${f}")
  endif()
endforeach()
if(NOT EXISTS ${first}/lib/libcorvex.so.1)
  message(FATAL_ERROR "not installed with the library: lib/libcorvex.so.1")
endif()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${first} --component CorvexDev)
foreach(f include/corvex/Corvex.h lib/libcorvex.so lib/pkgconfig/corvex.pc
          lib/cmake/Corvex/CorvexConfig.cmake lib/cmake/Corvex/CorvexTargets.cmake)
  if(NOT EXISTS ${first}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(RENAME ${first} ${moved})

# find_package: the example caller, built on its own.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/corvex/examples -B ${WORK_DIR}/cmake-build
    -DCMAKE_PREFIX_PATH=${moved} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/rnc-client --help)
# Numbers that are not whole numbers in range are refused before anything connects.
set(client ${WORK_DIR}/cmake-build/rnc-client)
foreach(bad abc 80x 70000 -1)
  run_refused(--in-port ${client} --in-port ${bad} --out-port 2)
endforeach()
run_refused(--cid ${client} --in-port 1 --out-port 2 --cid 256)
run_refused(--listen ${client} --in-port 1 --out-port 2 --listen 1e3)

# pkg-config: a caller that queues and takes a message through the library.
file(WRITE ${WORK_DIR}/caller.cpp [=[
#include <corvex/Corvex.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
int main() {
    CMessageQueue q;
    q.AddSingleMessage(const_cast<char*>("corvex"), 7);
    unsigned long len = 0;
    void* p = host_queue.GetFirstMessage(len);
    if (!p || len != 7 || std::strcmp(static_cast<char*>(p), "corvex") != 0) return 1;
    std::free(p);
    CRnc rnc;
    unsigned char id[4];
    rnc.InitDeviceID(id, "0x0012AB34");
    std::printf("caller ok %02X%02X%02X%02X\n", id[0], id[1], id[2], id[3]);
    return id[2] == 0xAB ? 0 : 1;
}
]=])
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${moved}/lib/pkgconfig)
run(${PKG_CONFIG} --cflags corvex)
string(STRIP "${LAST_OUTPUT}" cflags)
run(${PKG_CONFIG} --libs corvex)
string(STRIP "${LAST_OUTPUT}" libs)
separate_arguments(cflags UNIX_COMMAND "${cflags}")
separate_arguments(libs UNIX_COMMAND "${libs}")
if(NOT cflags MATCHES "moved-prefix/")
  message(FATAL_ERROR "pkg-config does not follow the moved tree: ${cflags}")
endif()
run(${CXX} -std=c++20 ${cflags} ${WORK_DIR}/caller.cpp -o ${WORK_DIR}/caller ${libs}
    -Wl,-rpath,${moved}/lib)
run(${WORK_DIR}/caller)
if(NOT LAST_OUTPUT MATCHES "caller ok 0012AB34")
  message(FATAL_ERROR "unexpected caller output: ${LAST_OUTPUT}")
endif()
message(STATUS "installed package works from ${moved}")
