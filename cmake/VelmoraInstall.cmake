# What `cmake --install` puts where, in three components:
#
#   main      the configuration tool in its program directory (the tool, the
#             shipped files and its translations together, the folder in
#             which the tool looks for the driver's library), velmora-ctl on
#             PATH with its manual page, the documentation
#   emulator  the target emulator, velmora-target-sim
#   demo      the stand-ins of the demo and the tests: the driver's library,
#             its set-up program, its debug output (and the Windows
#             installer's stand-in when the build has it). They go into the
#             program directory, where the tool finds them, but never into
#             the main component: a real installation gets them from the
#             driver.
#
# On Windows (the core-only cross build) only velmora-ctl.exe is built; it
# is installed with the README, the licence, the changelog, the --json
# schema and the third-party notices for the ZIP.

include(GNUInstallDirs)

set(VELMORA_README ${PROJECT_SOURCE_DIR}/README.md)
set(VELMORA_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(VELMORA_CHANGELOG ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
# The schema of velmora-ctl's --json output, which its help names.
set(VELMORA_CTL_JSON_DOC ${PROJECT_SOURCE_DIR}/docs/ctl-json.md)

if(WIN32)
  install(TARGETS velmora-ctl RUNTIME DESTINATION . COMPONENT ctl)
  # velmora-ctl.exe holds nlohmann/json, whose licence asks for its notice.
  install(FILES ${VELMORA_README} ${VELMORA_LICENSE} ${VELMORA_CHANGELOG} ${VELMORA_CTL_JSON_DOC}
                ${PROJECT_SOURCE_DIR}/docs/THIRD-PARTY-NOTICES.txt DESTINATION . COMPONENT ctl)
  return()
endif()

# The program directory: private to the tool, not on PATH (it holds data
# files and, with the driver, a library).
set(VELMORA_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/velmora-configure)
if(CMAKE_INSTALL_LIBDIR MATCHES "^lib/")
  # Debian's multiarch library folder is for shared libraries; a program's
  # private folder is /usr/lib/<program>.
  set(VELMORA_INSTALL_PROGRAM_DIR lib/velmora-configure)
endif()

# Documentation per package, as Debian wants it: copyright and a
# compressed changelog in /usr/share/doc/<package>.
set(VELMORA_DEB_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${VELMORA_DEB_CHANGELOG_GZ}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
                   COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/cmake/debian/changelog
                           -DOUT=${VELMORA_DEB_CHANGELOG_GZ} -P ${PROJECT_SOURCE_DIR}/cmake/VelmoraGzip.cmake
                   DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
                   COMMENT "Compressing the package changelog" VERBATIM)
add_custom_target(velmora_doc ALL DEPENDS ${VELMORA_DEB_CHANGELOG_GZ})

function(velmora_install_doc component package)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${VELMORA_DEB_CHANGELOG_GZ}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

# ------------------------------------------------------------------- main
velmora_install_doc(main velmora-configure)
install(FILES ${VELMORA_README} ${VELMORA_CHANGELOG} ${VELMORA_CTL_JSON_DOC}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmora-configure COMPONENT main)
install(TARGETS velmora-ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT main)
if(VELMORA_CTL_MANPAGE)
  install(FILES ${VELMORA_CTL_MANPAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT main)
endif()

if(NOT VELMORA_CORE_ONLY)
  install(TARGETS velmora-configure RUNTIME DESTINATION ${VELMORA_INSTALL_PROGRAM_DIR} COMPONENT main)
  install(FILES ${PROJECT_SOURCE_DIR}/data/setting_org.inf ${PROJECT_SOURCE_DIR}/data/preset.inf
                ${PROJECT_SOURCE_DIR}/data/label.png ${VELMORA_QM_FILES}
          DESTINATION ${VELMORA_INSTALL_PROGRAM_DIR} COMPONENT main)
  # On PATH as a link: the tool finds its program directory through the
  # link's target.
  file(RELATIVE_PATH link_target ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${VELMORA_INSTALL_PROGRAM_DIR}/velmora-configure)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/links)
  file(CREATE_LINK ${link_target} ${CMAKE_BINARY_DIR}/links/velmora-configure SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/links/velmora-configure DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT main)
  # Translators start from the source-language template.
  install(FILES ${VELMORA_TS_TEMPLATE} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/velmora-configure/translations
          COMPONENT main)
endif()

# --------------------------------------------------------------- emulator
velmora_install_doc(emulator velmora-target-sim)
install(TARGETS velmora-target-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT emulator)

# ------------------------------------------------------------------- demo
velmora_install_doc(demo velmora-configure-demo)
install(TARGETS velmora_asio LIBRARY DESTINATION ${VELMORA_INSTALL_PROGRAM_DIR} COMPONENT demo)
install(TARGETS setting_path velmora-debugd RUNTIME DESTINATION ${VELMORA_INSTALL_PROGRAM_DIR} COMPONENT demo)
install(FILES ${PROJECT_SOURCE_DIR}/data/driver.inf DESTINATION ${VELMORA_INSTALL_PROGRAM_DIR} COMPONENT demo)
if(TARGET velmora-msiexec)
  install(TARGETS velmora-msiexec RUNTIME DESTINATION ${VELMORA_INSTALL_PROGRAM_DIR}/standin COMPONENT demo)
endif()
