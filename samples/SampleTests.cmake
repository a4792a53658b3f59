# kestrix_add_sample_tests(PREFIX p [ENVIRONMENT "A=1;B=2"] [TIMEOUT s])
# Registers one test per sample program, named p.<sample>, plus p.http_pair for the HTTP
# server and client run together. ENVIRONMENT goes to every test unchanged, so the same samples
# can run over any ws2_32 (Wine's own, or the drop-in layer with WINEDLLOVERRIDES).
# Callable from any folder added after samples/.

# Sample programs that check themselves; the HTTP pair is listed apart.
set(KESTRIX_SELF_CHECKING_SAMPLES
    tcp_blocking udp ipv6 nonblocking sockopts overlapped async_select event_select
    acceptex transmitfile wsarecvmsg wsa_variants poll_sendmsg iocp_server
    CACHE INTERNAL "sample programs that check their own results")
set(KESTRIX_SAMPLES ${KESTRIX_SELF_CHECKING_SAMPLES} http_server http_client
    CACHE INTERNAL "all sample programs")

function(kestrix_add_sample_tests)
  cmake_parse_arguments(arg "" "PREFIX;TIMEOUT" "ENVIRONMENT" ${ARGN})
  if(NOT arg_PREFIX)
    message(FATAL_ERROR "kestrix_add_sample_tests needs a PREFIX")
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 60)
  endif()
  set(environment)
  if(arg_ENVIRONMENT)
    set(environment ENVIRONMENT "${arg_ENVIRONMENT}")
  endif()
  foreach(sample ${KESTRIX_SELF_CHECKING_SAMPLES})
    kestrix_add_wine_test(NAME ${arg_PREFIX}.${sample} COMMAND ${sample}
                          TIMEOUT ${arg_TIMEOUT} ${environment})
  endforeach()
  # run_pair finds both programs in the working directory, bin/.
  kestrix_add_wine_test(NAME ${arg_PREFIX}.http_pair
                        COMMAND run_pair http_server.exe http_client.exe
                        TIMEOUT ${arg_TIMEOUT} ${environment})
endfunction()
