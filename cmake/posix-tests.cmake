# The POSIX test programs, their files named as the libraries' are. A
# file's tests sit beside it as <name>_test.cc.

# Units over a scripted account service, which defines the service's
# functions so that the platform library's own is never linked. The
# service's own tests (platform/account_service-posix_test.cc) need a real
# store and run with the stores.
add_executable(unit_tests accounts/account_text_test.cc accounts/check_test.cc
    accounts/delete_user_test.cc accounts/lookup_search_test.cc
    accounts/parameter_number_test.cc accounts/set_user_test.cc command/base_name_test.cc
    command/dispatcher_test.cc command/tokenizer_test.cc config/host_test.cc
    config/settings_test.cc config/store_settings-posix_test.cc homedir/home_directory_test.cc
    log/line_format_test.cc log/paths_test.cc log/trace_log_test.cc
    platform/account_names_test.cc protocol/replies_test.cc text/text_test.cc
    tests/scripted_account_service.cc tests/test_support.cc tests/process_state.cc)
target_link_libraries(unit_tests PRIVATE lodgate_command GTest::gtest_main)
gtest_discover_tests(unit_tests DISCOVERY_MODE PRE_TEST)

# The account service and the sqlite store on real files, and the cases
# every store must meet (tests/conformance).
# The test hooks (tests/test_hooks.cc) stand in for the clock and the count
# of password work.
add_executable(accountdb_tests accountdb/account_db_test.cc accountdb/hash_upgrade_test.cc
    accountdb/lockout_test.cc accountdb/logon_test.cc accountdb/registry_test.cc
    accountdb/sqlite_conformance_test.cc platform/account_service-posix_test.cc
    tests/conformance/account_store_test.cc tests/test_support.cc tests/process_state.cc
    tests/test_hooks.cc)
if(LODGATE_LINKED_IN)
    target_sources(accountdb_tests PRIVATE hashing/hash_memory_test.cc)
endif()
target_link_libraries(accountdb_tests PRIVATE lodgate_command GTest::gtest_main)
gtest_discover_tests(accountdb_tests DISCOVERY_MODE PRE_TEST)

# The directory store against real slapd servers, with the same cases.
add_executable(ldap_tests tests/ldap/directory_kills_test.cc tests/ldap/ldap_conformance.cc
    tests/ldap/ldap_listing_test.cc tests/ldap/ldap_refusal_times_test.cc
    tests/ldap/ldap_store_test.cc
    tests/ldap/module_on_directory_test.cc tests/ldap/slapd_fixture.cc
    tests/ldap/store_programs_test.cc tests/conformance/account_store_test.cc
    tests/test_support.cc tests/e2e/harness.cc tests/child_spawn.cc tests/test_hooks.cc)
target_link_libraries(ldap_tests PRIVATE lodgate_ldapstore lodgate_command GTest::gtest_main)
target_compile_definitions(ldap_tests PRIVATE LODGATE_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}"
    LODGATE_BINARY="$<TARGET_FILE:lodgate>" LODGATE_ADMIN_BINARY="$<TARGET_FILE:lodgate-admin>"
    LODGATE_AUTH_BINARY="$<TARGET_FILE:lodgate-auth>"
    LODGATE_AUTH_LDAP_BINARY="$<TARGET_FILE:lodgate-auth-ldap>"
    LODGATE_LIBEXECDIR="${LODGATE_LIBEXECDIR}")
add_dependencies(ldap_tests lodgate lodgate-ldap lodgate-admin lodgate-auth lodgate-auth-ldap)
gtest_discover_tests(ldap_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 300)

# The whole module as a child process.
add_executable(e2e_tests tests/e2e/account_commands_test.cc tests/e2e/harness.cc
    tests/e2e/linkage_test.cc tests/e2e/spine_test.cc tests/test_support.cc
    tests/child_spawn.cc)
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
add_executable(hardening_tests tests/hardening/child_process.cc
    tests/hardening/concurrency_test.cc tests/hardening/crash_test.cc
    tests/hardening/database_faults_test.cc tests/hardening/file_limits_test.cc
    tests/hardening/hostile_input_test.cc tests/hardening/installation.cc
    tests/hardening/secrets_test.cc tests/e2e/harness.cc tests/child_spawn.cc
    tests/test_support.cc)
target_include_directories(hardening_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(hardening_tests PRIVATE LODGATE_BINARY="$<TARGET_FILE:lodgate>")
target_link_libraries(hardening_tests PRIVATE PkgConfig::SQLITE3 crypt GTest::gtest_main)
add_dependencies(hardening_tests lodgate)
gtest_discover_tests(hardening_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 600)

# lodgate-admin as a child process on real databases; the module's service
# in the test process checks what it wrote.
add_executable(admin_tests admin/admin_test.cc tests/test_support.cc tests/process_state.cc)
target_link_libraries(admin_tests PRIVATE lodgate_command GTest::gtest_main)
target_compile_definitions(admin_tests PRIVATE
    LODGATE_ADMIN_BINARY="$<TARGET_FILE:lodgate-admin>")
add_dependencies(admin_tests lodgate-admin)
gtest_discover_tests(admin_tests DISCOVERY_MODE PRE_TEST)

# lodgate-auth's units, and the real mail servers as private instances;
# those are skipped (77) when the servers are not installed.
add_executable(auth_tests auth/caller_environment_test.cc auth/checkpassword_test.cc)
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
