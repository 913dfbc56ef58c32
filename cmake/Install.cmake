# Installation and the Debian package: the programs, the udev rule for the
# units' vendor ID, the desktop entry, its icon and the AppStream metainfo.
# Install paths are the ones a distribution uses (prefix /usr in the package).
include(GNUInstallDirs)

install(TARGETS halnor40ku hx40k-data hx40k-logview RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The udev rule grants access to the units of HX_USB_VENDOR_ID; without one it
# grants nothing (and says how to set it).
if(HX_USB_VENDOR_ID)
  set(HX_UDEV_RULE_LINE
    "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"${HX_USB_VENDOR_ID}\", ATTR{idProduct}==\"011[0-9a-f]\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"")
else()
  set(HX_UDEV_RULE_LINE
    "# No vendor ID was given when the program was built, so this rule matches no device:\n# SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"VVVV\", ATTR{idProduct}==\"011[0-9a-f]\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"")
endif()
configure_file(${PROJECT_SOURCE_DIR}/res/70-halnor40ku.rules.in ${PROJECT_BINARY_DIR}/res/70-halnor40ku.rules @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/res/70-halnor40ku.rules DESTINATION lib/udev/rules.d)

set(HX_APP_ID org.quarvel.halnor40ku)
# The release date is the date of the commit built (SOURCE_DATE_EPOCH when a
# packager sets it), not the day of the build, so two builds of one source
# give the same files.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE HX_COMMIT_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(HX_COMMIT_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} ${HX_COMMIT_EPOCH})
  endif()
endif()
string(TIMESTAMP HX_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP HX_RELEASE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/res/halnor40ku.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/res/${HX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_SOURCE_DIR}/res/halnor40ku.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        RENAME ${HX_APP_ID}.desktop)
install(FILES ${PROJECT_BINARY_DIR}/res/${HX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/res/halnor40ku.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages: the program's from its option table (halnor40ku --man), the
# tools' from their usage text.
set(HX_MAN_DIR ${PROJECT_BINARY_DIR}/man)
foreach(program halnor40ku hx40k-data hx40k-logview)
  add_custom_command(OUTPUT ${HX_MAN_DIR}/${program}.1.gz
                     COMMAND ${PROJECT_SOURCE_DIR}/scripts/man-page.sh $<TARGET_FILE:${program}> ${program}
                             ${HX_MAN_DIR}/${program}.1.gz
                     DEPENDS ${program} ${PROJECT_SOURCE_DIR}/scripts/man-page.sh VERBATIM)
endforeach()
add_custom_target(hx_man_pages ALL DEPENDS ${HX_MAN_DIR}/halnor40ku.1.gz ${HX_MAN_DIR}/hx40k-data.1.gz
                                           ${HX_MAN_DIR}/hx40k-logview.1.gz)
install(FILES ${HX_MAN_DIR}/halnor40ku.1.gz ${HX_MAN_DIR}/hx40k-data.1.gz ${HX_MAN_DIR}/hx40k-logview.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# What a Debian package carries beside the program: its copyright file and
# changelog (compressed as policy asks, without a time stamp; "changelog" as
# the package is its own upstream, a version without a Debian revision).
configure_file(${PROJECT_SOURCE_DIR}/res/debian/changelog ${PROJECT_BINARY_DIR}/res/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/res/changelog.gz
                   COMMAND gzip -9nf -k ${PROJECT_BINARY_DIR}/res/changelog
                   DEPENDS ${PROJECT_BINARY_DIR}/res/changelog)
add_custom_target(hx_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/res/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/copyright ${PROJECT_BINARY_DIR}/res/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB (scripts/package.sh): one package from the install rules above.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halnor40ku)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The HX-40K terminal program developers")
set(CPACK_PACKAGE_CONTACT "The HX-40K terminal program developers <maintainers@users.noreply.c-seed-02c03e92.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Terminal program for HX-40K tail-cuff blood-pressure units")
# The extended description, in lines of less than 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
  "Connects to HX-40K units over USB, draws the live cuff-pressure and pulse\nwaves, shows SBP, MBP, DBP and heart rate of each measurement, saves every\nmeasurement as a data file and runs timed recordings. A built-in simulated\nunit stands in where no unit is attached.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from dpkg-shlibdeps (Qt, libusb, the C++ runtime), and what the
# program needs at run time without linking it: Qt's platform plugins (no
# window opens without them; Qt only recommends them), Qt's SVG icon engine
# (the toolbar's icons are SVG), the metric-compatible font its wave and value
# panes ask for, and udev for the access rule.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
# Applies the udev rule after installing, so no unit needs plugging in again.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/res/debian/postinst ${PROJECT_SOURCE_DIR}/res/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
