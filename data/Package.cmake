# The Debian package: cpack -G DEB in the build folder writes tollavar_VERSION_ARCH.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tollavar)
set(CPACK_PACKAGE_VENDOR "Tollavar")
set(CPACK_PACKAGE_CONTACT "Tollavar maintainers <tollavar@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Convert the index files of a scanning station into datagroups")
set(CPACK_PACKAGE_DESCRIPTION
    "Tollavar reads the delimited index files of a scanning and indexing station and turns them into a\n"
    "datagroup folder: DATAGRP.XML, the documents' images and full-text files, and a DATAGRP.SUBMIT marker.\n"
    "Conversions run in a window or unattended from cron or a systemd timer.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${TOLLAVAR_WEBSITE_URL}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The run-time libraries come from what the program links (dpkg-shlibdeps), not from a hand-kept list:
# Qt, libxml2, libsystemd0 (the hot folder's word to systemd), libxxhash0 (index file fingerprints) and
# libprometheus-cpp-core (the metrics file).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "desktop-file-utils, shared-mime-info")
set(CPACK_STRIP_FILES ON)
include(CPack)
