// Test entry point: every test runs in the device's time zone (Europe/Sofia)
// and in the "C" locale, whatever the machine running the suite is set to.
#include <clocale>
#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
#ifdef _WIN32
  // The Windows C runtime knows no Olson names; Sofia is two hours east of UTC
  // and the reader always converts with the daylight-saving flag cleared.
  _putenv("TZ=EET-2");
  _tzset();
#else
  setenv("TZ", "Europe/Sofia", 1);
  tzset();
#endif
  std::setlocale(LC_ALL, "C");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
