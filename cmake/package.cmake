# A .deb: the scripts make /var/lib/lodgate; the sample file is a conffile.
# libldap is for lodgate-ldap and lodgate-admin; lodgate itself never loads it.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "${LODGATE_SYSCONFDIR}/lodgate.ini\n")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lodgate)
set(CPACK_PACKAGE_CONTACT "Lodgate maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Account module of a mail server")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
if(LODGATE_LINKED_IN)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libldap-2.5-0, libsasl2-2, adduser")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libsqlite3-0, libcrypt1, libldap-2.5-0, libsasl2-2, adduser")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postrm ${CMAKE_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The programs go in stripped; their debug symbols go in
# lodgate-dbgsym_*.ddeb beside the package (this strips them too).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
include(CPack)
