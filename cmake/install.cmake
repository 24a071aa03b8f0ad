# Install rules and packages.
#
# Elsewhere both executables go to lib/vellumo-cli/, bin/vellumo-cli being a
# link to the CLI there: the CLI looks for the app beside its own file, which
# it finds through links. Two components: `cli` (the CLI, its manual page
# and its shell completions) and `standin` (the stand-in app, placed beside
# the CLI). On Windows both executables and the PowerShell completion share
# one folder (scripts/package hands the Windows build the completion script
# that the native build wrote).
#
# Packages (scripts/package): natively one Debian package per component;
# the Windows build makes one .zip.

set(VELLUMO_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
if(WIN32)
  install(TARGETS vellumo-cli RUNTIME DESTINATION . COMPONENT cli)
  install(TARGETS standin_app RUNTIME DESTINATION . COMPONENT standin)
  set(VELLUMO_POWERSHELL_COMPLETION "" CACHE FILEPATH
      "The PowerShell completion script to ship, as a native build writes it")
  if(VELLUMO_POWERSHELL_COMPLETION)
    install(FILES ${VELLUMO_POWERSHELL_COMPLETION} DESTINATION . COMPONENT cli)
  endif()
else()
  set(private_dir lib/vellumo-cli)
  install(TARGETS vellumo-cli RUNTIME DESTINATION ${private_dir} COMPONENT cli)
  install(TARGETS standin_app RUNTIME DESTINATION ${private_dir} COMPONENT standin)
  # A relative link, so that the installed tree can move (DESTDIR, packages).
  set(cli_link ${PROJECT_BINARY_DIR}/install/vellumo-cli)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/install)
  file(CREATE_LINK ../${private_dir}/vellumo-cli ${cli_link} SYMBOLIC)
  install(FILES ${cli_link} DESTINATION bin COMPONENT cli)
  install(FILES ${VELLUMO_DOCS_DIR}/man/vellumo-cli.1 DESTINATION share/man/man1 COMPONENT cli)
  install(FILES ${VELLUMO_DOCS_DIR}/bash/vellumo-cli
          DESTINATION share/bash-completion/completions COMPONENT cli)
  install(FILES ${VELLUMO_DOCS_DIR}/zsh/_vellumo-cli DESTINATION share/zsh/site-functions COMPONENT cli)
  # Debian's zsh reads site-functions under /usr/local only, and the
  # completions of packages from vendor-completions.
  set(zsh_link ${PROJECT_BINARY_DIR}/install/_vellumo-cli)
  file(CREATE_LINK ../site-functions/_vellumo-cli ${zsh_link} SYMBOLIC)
  install(FILES ${zsh_link} DESTINATION share/zsh/vendor-completions COMPONENT cli)
  install(FILES ${VELLUMO_DOCS_DIR}/fish/vellumo-cli.fish
          DESTINATION share/fish/vendor_completions.d COMPONENT cli)
endif()

# Packing installs only what scripts/package has built, not every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME vellumo-cli)
set(CPACK_PACKAGE_VENDOR Vellumo)
set(CPACK_PACKAGE_CONTACT "Vellumo <support@vellumo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Drive the Vellumo dictation and meeting-transcription app from a terminal")
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL cli standin)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_CLI_PACKAGE_NAME vellumo-cli)
  set(CPACK_DEBIAN_CLI_DESCRIPTION
      "Drive the Vellumo dictation and meeting-transcription app from a terminal
 vellumo-cli sends each command to the running Vellumo app and prints the
 result as JSON; it starts the app when needed and registers itself with AI
 coding agents.")
  set(CPACK_DEBIAN_STANDIN_PACKAGE_NAME vellumo-standin)
  set(CPACK_DEBIAN_STANDIN_PACKAGE_DEPENDS "vellumo-cli (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_STANDIN_DESCRIPTION
      "Stand-in for the Vellumo app, for vellumo-cli without the desktop app
 Serves the app link so that every vellumo-cli command works for development,
 demos and tests. It records no sound and recognises no speech: transcripts
 come from a .txt file beside the media.")
endif()
include(CPack)
