// korvex-toast-identity PATH: prints the toast identity of the client installed at PATH, as its
// notification centre computes it, so that the package removes that identity's registration.
#include <cstdio>

#include "client/notification_centre.h"
#include "core/text.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: korvex-toast-identity PROGRAM-PATH\n");
    return 2;
  }
  std::printf("%s\n", korvex::ToUtf8(korvex::ToastIdentity(korvex::FromUtf8(argv[1]))).c_str());
  return 0;
}
