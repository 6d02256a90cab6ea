# CMake package configuration of the Qelvan SDK: find_package(QelvanSdk) gives the imported
# target QelvanSdk::QelvanSdk (header, import library, DLL).
get_filename_component(_qelvan_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET QelvanSdk::QelvanSdk)
  add_library(QelvanSdk::QelvanSdk SHARED IMPORTED)
  set_target_properties(QelvanSdk::QelvanSdk PROPERTIES
    IMPORTED_IMPLIB "${_qelvan_root}/lib/QelvanSdk_Z51QK2_RVN.lib"
    IMPORTED_LOCATION "${_qelvan_root}/bin/QelvanSdk_Z51QK2_RVN.dll"
    INTERFACE_INCLUDE_DIRECTORIES "${_qelvan_root}/include")
endif()

set(QelvanSdk_INCLUDE_DIRS "${_qelvan_root}/include")
set(QelvanSdk_LIBRARIES QelvanSdk::QelvanSdk)
set(QelvanSdk_DLL "${_qelvan_root}/bin/QelvanSdk_Z51QK2_RVN.dll")
unset(_qelvan_root)
