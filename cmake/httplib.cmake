# cpp-httplib, the HTTP and TLS of the Linux taxoscope-cli's send (and the
# client of the server's tests and benchmark): Debian's libcpp-httplib-dev, a
# compiled library built with OpenSSL (its pkg-config file gives the matching
# definitions). The Windows programs send with WinHTTP, part of Windows,
# instead; taxoscope-server serves with Boost.Beast (server/CMakeLists.txt).
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_package(OpenSSL REQUIRED)
find_package(Threads REQUIRED)
add_library(taxoscope_httplib INTERFACE)
target_link_libraries(taxoscope_httplib INTERFACE PkgConfig::CPP_HTTPLIB OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
