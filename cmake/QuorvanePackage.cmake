# Installing and packaging: the programs in bin/, the job modules in
# lib/quorvane/, where the capture program looks for them once installed
# (capture/shell/JobModule.cpp).
install(TARGETS quorvane-capture quorvane RUNTIME DESTINATION bin)

set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvane)
set(CPACK_PACKAGE_CONTACT "Quorvane developers <dev@quorvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Quorvane capture: window, camera and media-analysis jobs, and the tool bridge")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The libraries come from what the programs and modules link (dpkg-shlibdeps);
# the speech model is data that transcribe reads from /usr/share.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pocketsphinx-en-us)
include(CPack)
