// sw_vers -productVersion: prints the system version, taken from
// OMBRI_SIM_MACOS_VERSION when it is set (an empty value prints an empty line).

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "-productVersion") != 0) {
    std::fputs("usage: sw_vers -productVersion\n", stderr);
    return 1;
  }
  const char* version = std::getenv("OMBRI_SIM_MACOS_VERSION");
  std::printf("%s\n", version ? version : "15.5");
  return 0;
}
