# Read by cpack for each package it makes. The man page names the documentation's folder under the prefix
# the build was configured with, and a Debian package installs under /usr.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_TARN_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "The Debian package installs under /usr, but this build was configured for "
                        "${CPACK_TARN_INSTALL_PREFIX}: configure it with -DCMAKE_INSTALL_PREFIX=/usr")
endif()
