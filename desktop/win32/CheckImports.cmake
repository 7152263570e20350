# Fails when EXECUTABLE imports a DLL that Windows does not ship.
# Usage: cmake -DEXECUTABLE=<exe> -DOBJDUMP=<objdump> -P CheckImports.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${EXECUTABLE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXECUTABLE} failed")
endif()

# ws2_32.dll is Winsock: libgpg-error, under libgcrypt, imports it.
set(system_dlls
  advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll gdi32.dll hid.dll kernel32.dll msvcrt.dll ole32.dll
  oleaut32.dll setupapi.dll shell32.dll user32.dll ws2_32.dll)

string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "${EXECUTABLE} lists no imports: not a PE executable?")
endif()
set(foreign "")
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  message(STATUS "imports ${dll}")
  string(TOLOWER "${dll}" lower)
  # The API sets (api-ms-win-*) are the system's own forwarders.
  if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-")
    list(APPEND foreign "${dll}")
  endif()
endforeach()
if(foreign)
  message(FATAL_ERROR "${EXECUTABLE} needs DLLs that Windows does not ship: ${foreign}")
endif()
