# The Debian package: ventari_<version>_<arch>.deb, its library dependencies computed by
# dpkg-shlibdeps from what the programs link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ventari)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ventari maintainers <ventari@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host robot for a play-by-mail game of Stars!")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Ventari watches one Stars! game folder, generates the turn when every order is in and "
       "the league's deadline has passed, publishes the turn files and mails them to the players.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its X11 platform plugin at run time, which no library dependency shows; the window
# is measured with Liberation Sans, which fontconfig only knows when its package is there.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")
# Without a sendmail no player gets his turn: msmtp's is the lightest, any other one will do.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "msmtp-mta | default-mta | mail-transport-agent")
# The real game is a Windows program, and needs a display even to generate a turn; getmail6
# brings the players' mailed orders from an IMAP account into the robot's Maildir; curl and jq
# build the event command's messages in the README's examples.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine, xvfb, getmail6, curl, jq")
include(CPack)
