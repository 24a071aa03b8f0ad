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
# Packages: scripts/package makes one Debian package per component from
# these rules, and one .zip of the Windows build, with the files in
# packaging/.

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

# The install target installs what has been built, without building every
# test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
