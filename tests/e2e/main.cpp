// Runs the end-to-end tests against the native executables, or with
// --e2e-mode=wine against the Windows executables under Wine.

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "harness.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string mode = "native";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--e2e-mode=", 11) == 0) {
      mode = argv[i] + 11;
    } else {
      std::cerr << "unknown argument: " << argv[i] << "\n";
      return 2;
    }
  }

  vellumo::e2e::Target target;
  if (mode == "native") {
    target.cli = VELLUMO_E2E_NATIVE_CLI;
    target.fake_app = VELLUMO_E2E_NATIVE_FAKE_APP;
    target.standin = VELLUMO_E2E_NATIVE_STANDIN;
    target.fake_claude = VELLUMO_E2E_NATIVE_FAKE_CLAUDE;
  } else if (mode == "wine") {
    target.wine = true;
    target.cli = VELLUMO_E2E_WINDOWS_CLI;
    target.fake_app = VELLUMO_E2E_WINDOWS_FAKE_APP;
    target.standin = VELLUMO_E2E_WINDOWS_STANDIN;
    target.fake_claude = VELLUMO_E2E_WINDOWS_FAKE_CLAUDE;
    target.user_environment = VELLUMO_E2E_WINDOWS_USER_ENVIRONMENT;
    target.wine64 = VELLUMO_E2E_WINE64;
    std::stringstream settings(VELLUMO_E2E_WINE_ENV);
    for (std::string setting; std::getline(settings, setting, '|');) {
      target.wine_env.push_back(setting);
    }
    if (target.wine64.empty()) {
      std::cerr << "this build has no Windows executables to test\n";
      return 2;
    }
  } else {
    std::cerr << "unknown mode: " << mode << "\n";
    return 2;
  }
  vellumo::e2e::set_target(std::move(target));
  return RUN_ALL_TESTS();
}
