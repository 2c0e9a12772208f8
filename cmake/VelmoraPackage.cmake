# Packages, made by `cmake --build BUILD --target package`:
#
#   Linux    Debian packages, one per install component (VelmoraInstall):
#              velmora-configure       the tool and velmora-ctl
#              velmora-target-sim      the target emulator
#              velmora-configure-demo  the demo's stand-ins (needs the tool)
#            Their library dependencies (Debian's Qt packages, libc, ...) are
#            read from the programs by dpkg-shlibdeps.
#   Windows  a ZIP of velmora-ctl.exe with the README, the licence and the
#            changelog (the cross build has only the Qt-free core).
#
# Packages are built from a plain build (no sanitizers): scripts/test.sh
# makes one in its own folder and checks the packages with lintian and an
# installation into a scratch root (scripts/package-test.sh).

set(CPACK_PACKAGE_NAME velmora-configure)
set(CPACK_PACKAGE_VENDOR "The Velmora ASIO configure developers")
set(CPACK_PACKAGE_CONTACT "Velmora ASIO configure developers <maintainers@velmora.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# Without it the files of a package keep the build machine's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "velmora-ctl, command-line companion of Velmora ASIO configure")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME velmora-ctl-${PROJECT_VERSION}-win64)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL ctl)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

# Each package's description starts with its own summary line (CPack would
# put a common one in front if CPACK_PACKAGE_DESCRIPTION_SUMMARY were set).
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL main emulator demo)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://velmora.example/asio-configure)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})

set(CPACK_DEBIAN_MAIN_PACKAGE_NAME velmora-configure)
set(CPACK_DEBIAN_MAIN_DESCRIPTION
    "configuration tool of the Velmora ASIO network audio driver
velmora-configure chooses what the Velmora ASIO driver does: the network
interface and the player (target) it streams to, the sample format, the
DSD bit order, the sync buffers and the ASIO buffer size, cycle time and
latency, one by one or through preset profiles. It also shows the driver's
debug output and a target's log.
.
velmora-ctl, its command-line companion, reads and writes the driver's
settings files and speaks the targets' protocol, for installation scripts.
.
The tool looks for the driver's library in its program directory,
/usr/lib/velmora-configure; the driver itself is not part of this package.")

set(CPACK_DEBIAN_EMULATOR_PACKAGE_NAME velmora-target-sim)
set(CPACK_DEBIAN_EMULATOR_DESCRIPTION
    "emulator of Velmora network audio players
velmora-target-sim answers the Velmora targets' UDP protocol like one or
more network audio players: discovery, commands, firmware image transfer
and a log stream, with fault modes for testing. Run it only inside a
private network namespace; it listens on the host's interfaces.")

set(CPACK_DEBIAN_DEMO_PACKAGE_NAME velmora-configure-demo)
set(CPACK_DEBIAN_DEMO_PACKAGE_DEPENDS "velmora-configure (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEMO_PACKAGE_RECOMMENDS velmora-target-sim)
set(CPACK_DEBIAN_DEMO_DESCRIPTION
    "stand-ins of the Velmora ASIO driver for demos and tests
A stand-in for the driver's library (it reports a settings path and finds
targets on the local network), for the driver's set-up program and for the
driver's debug output, installed into velmora-configure's program directory
so that the tool can be tried without the driver. Not for a machine that
has the real driver.")

include(CPack)
