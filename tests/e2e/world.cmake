# The end-to-end world's whois and what-is-my-address servers and the helper library that brings the
# world up and runs programs in it; used by the e2e tests and by the window
# benchmarks (whose Release build has no tests). The whois server always
# lands in <build>/tests/e2e/.
function(quillon_e2e_world_targets)
  if(TARGET quillon_e2e_world)
    return()
  endif()
  set(dir ${PROJECT_SOURCE_DIR}/tests/e2e)
  add_executable(e2e_whois_server ${dir}/whois_server.cpp)
  target_include_directories(e2e_whois_server PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(e2e_whois_server PRIVATE Threads::Threads quillon_warnings)
  set_target_properties(e2e_whois_server PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/e2e)

  # Stand-ins for the public what-is-my-address services, beside it.
  add_executable(e2e_whoami_server ${dir}/whoami_server.cpp)
  target_link_libraries(e2e_whoami_server PRIVATE quillon_warnings)
  set_target_properties(e2e_whoami_server PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/e2e)
  # The host of the page that app/README.md's hosting recipe serves.
  set(public_host "ip.quillon.test")

  add_library(quillon_e2e_world STATIC ${dir}/world.cpp)
  target_include_directories(quillon_e2e_world PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(quillon_e2e_world PUBLIC Threads::Threads PRIVATE quillon_warnings)
  set(cli "")
  if(TARGET quillon-cli)
    set(cli $<TARGET_FILE:quillon-cli>)
    add_dependencies(quillon_e2e_world quillon-cli)
  endif()
  target_compile_definitions(quillon_e2e_world PRIVATE
    QUILLON_E2E_PUBLIC_HOST="${public_host}"
    QUILLON_E2E_CLI="${cli}"
    QUILLON_E2E_WHOIS_SERVER="$<TARGET_FILE:e2e_whois_server>"
    QUILLON_E2E_WORLD_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/e2e-world.sh")
  add_dependencies(quillon_e2e_world e2e_whois_server e2e_whoami_server)
endfunction()
