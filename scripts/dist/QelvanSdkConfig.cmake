# CMake package configuration of the Qelvan SDK: find_package(QelvanSdk) gives the imported
# target QelvanSdk::QelvanSdk (header, import library, DLL) of the build that matches the
# compiler: bin/x64 and lib/x64 for a 64-bit target, bin/x86 and lib/x86 for a 32-bit one.
get_filename_component(_qelvan_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_qelvan_arch x64)
else()
  set(_qelvan_arch x86)
endif()

if(NOT TARGET QelvanSdk::QelvanSdk)
  add_library(QelvanSdk::QelvanSdk SHARED IMPORTED)
  set_target_properties(QelvanSdk::QelvanSdk PROPERTIES
    IMPORTED_IMPLIB "${_qelvan_root}/lib/${_qelvan_arch}/QelvanSdk_Z51QK2_RVN.lib"
    IMPORTED_LOCATION "${_qelvan_root}/bin/${_qelvan_arch}/QelvanSdk_Z51QK2_RVN.dll"
    INTERFACE_INCLUDE_DIRECTORIES "${_qelvan_root}/include")
endif()

set(QelvanSdk_INCLUDE_DIRS "${_qelvan_root}/include")
set(QelvanSdk_LIBRARIES QelvanSdk::QelvanSdk)
set(QelvanSdk_DLL "${_qelvan_root}/bin/${_qelvan_arch}/QelvanSdk_Z51QK2_RVN.dll")
unset(_qelvan_root)
unset(_qelvan_arch)
