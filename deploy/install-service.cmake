# Installs qx200d's unit and configuration for the prefix being installed to (run by
# cmake --install and by the packages' build). The configuration goes to /etc for the prefix
# /usr, else under the prefix, and an existing one is never written over.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(etc /etc)
else()
  set(etc "${CMAKE_INSTALL_PREFIX}/etc")
endif()
set(QX200D_BINARY "${CMAKE_INSTALL_PREFIX}/${QX200D_BINDIR}/qx200d")
set(QX200D_CONFIG "${etc}/qx200d/qx200d.yml")

get_filename_component(unit_dir "${QX200D_INSTALLED_CONFIG}" DIRECTORY)
configure_file("${QX200D_UNIT_IN}" "${unit_dir}/qx200d.service" @ONLY)
file(INSTALL "${unit_dir}/qx200d.service" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")

if(EXISTS "$ENV{DESTDIR}${QX200D_CONFIG}")
  message(STATUS "Kept: $ENV{DESTDIR}${QX200D_CONFIG}")
else()
  file(INSTALL "${QX200D_INSTALLED_CONFIG}" DESTINATION "${etc}/qx200d")
endif()
