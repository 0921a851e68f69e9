# Installing and packaging: the programs in bin/, the job modules in
# lib/quorvane/, where the capture program looks for them once installed
# (capture/shell/JobModule.cpp); the manual pages, made from
# docs/COMMANDS.md at build time, and the package's copyright and changelog.
install(TARGETS quorvane-capture quorvane RUNTIME DESTINATION bin)

set(docs_dir ${CMAKE_BINARY_DIR}/docs)
set(manuals ${docs_dir}/quorvane-capture.1.gz ${docs_dir}/quorvane.1.gz)
configure_file(packaging/changelog.in ${docs_dir}/changelog @ONLY)
add_custom_command(
  OUTPUT ${manuals} ${docs_dir}/changelog.gz
  COMMAND ${PYTHON3} ${PROJECT_SOURCE_DIR}/scripts/commands-to-man
    ${PROJECT_SOURCE_DIR}/docs/COMMANDS.md ${PROJECT_VERSION} ${docs_dir}
  # No name or time in the headers: the same sources give the same package.
  COMMAND gzip -9nf ${docs_dir}/quorvane-capture.1 ${docs_dir}/quorvane.1
  COMMAND gzip -9nkf ${docs_dir}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/scripts/commands-to-man ${PROJECT_SOURCE_DIR}/docs/COMMANDS.md
    ${docs_dir}/changelog
  COMMENT "Manual pages from docs/COMMANDS.md"
  VERBATIM)
# Built with the programs (make install and make package build only these).
add_custom_target(quorvane-docs ALL DEPENDS ${manuals} ${docs_dir}/changelog.gz)
install(FILES ${manuals} DESTINATION share/man/man1)
install(FILES packaging/copyright ${docs_dir}/changelog.gz DESTINATION share/doc/quorvane)

set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvane)
set(CPACK_PACKAGE_CONTACT "Quorvane developers <dev@quorvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "capture jobs and MCP bridge for the Quorvane video application")
set(CPACK_PACKAGE_DESCRIPTION
"The Quorvane desktop application makes videos. This package holds the two
programs it and its assistants run.

quorvane-capture does one job per run and answers in JSON lines: it records
one window (X11, or a Wayland desktop through its screen-cast portal) or a
camera with the microphone into a movie, lists the windows and cameras that
can be recorded, finds faces in pictures and videos, and transcribes speech
on the device.

quorvane mcp relays a Model Context Protocol client to the application's
Unix-domain socket and starts the application when it is not running.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The libraries come from what the programs and modules link (dpkg-shlibdeps).
# Recommended: the speech model transcribe reads from /usr/share (without it
# transcribe answers that speech cannot be read here), and gtk-launch, with
# which quorvane mcp starts the application.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pocketsphinx-en-us, libgtk-3-bin")
# CPack runs ldconfig after installing and removing a package with any shared
# object under /usr/lib, also private modules that the dynamic linker never
# searches (ours are dlopened by path); the package drops those calls.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebWithoutLdconfig.cmake)
include(CPack)
