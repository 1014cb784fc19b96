# The POSIX test programs. Tests are found by their place and name: a
# file's tests sit beside it as <name>_test.cc.

# Units over a scripted account service. The service's own tests
# (platform/*-posix_test.cc) need a real store and run with the stores.
file(GLOB LODGATE_UNIT_TESTS CONFIGURE_DEPENDS
    command/*_test.cc protocol/*_test.cc config/*_test.cc log/*_test.cc text/*_test.cc accounts/*_test.cc
    homedir/*_test.cc platform/*_test.cc)
list(FILTER LODGATE_UNIT_TESTS EXCLUDE REGEX "/platform/.*-posix_test\\.cc$")
add_executable(unit_tests ${LODGATE_UNIT_TESTS}
    tests/scripted_account_service.cc tests/test_support.cc tests/process_state.cc)
target_link_libraries(unit_tests PRIVATE lodgate_core GTest::gtest_main)
gtest_discover_tests(unit_tests DISCOVERY_MODE PRE_TEST)

# The account service and the sqlite store on real files, and the cases
# every store must meet (tests/conformance).
file(GLOB LODGATE_ACCOUNTDB_TESTS CONFIGURE_DEPENDS accountdb/*_test.cc hashing/*_test.cc
    platform/*-posix_test.cc tests/conformance/*.cc)
if(NOT LODGATE_LINKED_IN)
    list(FILTER LODGATE_ACCOUNTDB_TESTS EXCLUDE REGEX "/hash_memory_test\\.cc$")
endif()
add_executable(accountdb_tests ${LODGATE_ACCOUNTDB_TESTS} tests/test_support.cc
    tests/process_state.cc tests/test_hooks.cc)
target_link_libraries(accountdb_tests PRIVATE lodgate_core lodgate_service GTest::gtest_main)
gtest_discover_tests(accountdb_tests DISCOVERY_MODE PRE_TEST)

# The directory store against real slapd servers, with the same cases.
file(GLOB LODGATE_LDAP_TESTS CONFIGURE_DEPENDS tests/ldap/*.cc tests/conformance/*.cc)
add_executable(ldap_tests ${LODGATE_LDAP_TESTS} tests/test_support.cc tests/e2e/harness.cc
    tests/child_spawn.cc)
target_link_libraries(ldap_tests PRIVATE lodgate_ldapstore lodgate_core GTest::gtest_main)
target_compile_definitions(ldap_tests PRIVATE LODGATE_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
    LODGATE_BINARY="$<TARGET_FILE:lodgate>" LODGATE_ADMIN_BINARY="$<TARGET_FILE:lodgate-admin>"
    LODGATE_AUTH_BINARY="$<TARGET_FILE:lodgate-auth>"
    LODGATE_AUTH_LDAP_BINARY="$<TARGET_FILE:lodgate-auth-ldap>"
    LODGATE_LIBEXECDIR="${LODGATE_LIBEXECDIR}")
add_dependencies(ldap_tests lodgate lodgate-ldap lodgate-admin lodgate-auth lodgate-auth-ldap)
gtest_discover_tests(ldap_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 300)

# The whole module as a child process.
file(GLOB LODGATE_E2E_TESTS CONFIGURE_DEPENDS tests/e2e/*.cc)
add_executable(e2e_tests ${LODGATE_E2E_TESTS} tests/test_support.cc tests/child_spawn.cc)
target_link_libraries(e2e_tests PRIVATE GTest::gtest_main)
target_include_directories(e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(e2e_tests PRIVATE
    LODGATE_BINARY="$<TARGET_FILE:lodgate>"
    LODGATE_SYSCONFDIR="${LODGATE_SYSCONFDIR}"
    LODGATE_BUILD_DIR="${CMAKE_BINARY_DIR}"
    LODGATE_STATIC_MODULE_BUILT=$<BOOL:$<TARGET_PROPERTY:lodgate,LODGATE_STATIC_PIE>>)
add_dependencies(e2e_tests lodgate)
gtest_discover_tests(e2e_tests DISCOVERY_MODE PRE_TEST)

# Hardening: hostile input, secrets, kills, concurrency and file-system
# faults, over the real binary and database.
file(GLOB LODGATE_HARDENING_SOURCES CONFIGURE_DEPENDS tests/hardening/*.cc)
add_executable(hardening_tests ${LODGATE_HARDENING_SOURCES} tests/e2e/harness.cc
    tests/child_spawn.cc tests/test_support.cc)
target_include_directories(hardening_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(hardening_tests PRIVATE LODGATE_BINARY="$<TARGET_FILE:lodgate>")
target_link_libraries(hardening_tests PRIVATE PkgConfig::SQLITE3 crypt GTest::gtest_main)
add_dependencies(hardening_tests lodgate)
gtest_discover_tests(hardening_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 600)

# lodgate-admin as a child process on real databases; the module's service
# in the test process checks what it wrote.
file(GLOB LODGATE_ADMIN_TESTS CONFIGURE_DEPENDS admin/*_test.cc)
add_executable(admin_tests ${LODGATE_ADMIN_TESTS} tests/test_support.cc tests/process_state.cc)
target_link_libraries(admin_tests PRIVATE lodgate_core lodgate_service GTest::gtest_main)
target_compile_definitions(admin_tests PRIVATE
    LODGATE_ADMIN_BINARY="$<TARGET_FILE:lodgate-admin>")
add_dependencies(admin_tests lodgate-admin)
gtest_discover_tests(admin_tests DISCOVERY_MODE PRE_TEST)

# lodgate-auth's units, and the real mail servers as private instances;
# those are skipped (77) when the servers are not installed.
file(GLOB LODGATE_AUTH_TESTS CONFIGURE_DEPENDS auth/*_test.cc)
add_executable(auth_tests ${LODGATE_AUTH_TESTS})
target_link_libraries(auth_tests PRIVATE lodgate_auth GTest::gtest_main)
gtest_discover_tests(auth_tests DISCOVERY_MODE PRE_TEST)
# The directory's variant needs the lodgate-auth-ldap that lodgate-auth runs
# from LODGATE_LIBEXECDIR; it says so and skips where they differ.
if(TARGET lodgate-auth-ldap)
    set(LODGATE_AUTH_LDAP_FILE $<TARGET_FILE:lodgate-auth-ldap>)
endif()
set(LODGATE_INTEGRATION_TESTS dovecot_sqlite dovecot_ldap postfix saslauthd)
foreach(test ${LODGATE_INTEGRATION_TESTS})
    string(REGEX REPLACE "_.*" "" server ${test})
    string(REGEX MATCH "[a-z]*$" store ${test})
    add_test(NAME auth_${test}
        COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/integration/${server}_test.sh
            $<TARGET_FILE:lodgate-auth> $<TARGET_FILE:lodgate-admin> ${LODGATE_SYSCONFDIR}
            ${store} "${LODGATE_AUTH_LDAP_FILE}" "${LODGATE_LIBEXECDIR}")
    # Each adds the lodgate user when it is missing and writes the system
    # directory's lodgate_auth.ini.
    set_tests_properties(auth_${test} PROPERTIES SKIP_RETURN_CODE 77
        RESOURCE_LOCK lodgate_system_user TIMEOUT 300)
endforeach()
