#include <iostream>

#include "app/CUpgradeApp.h"
#include "app/StartupOptions.h"

int main(int argc, char** argv) {
    if (const auto answered = AnswerStartupOptions(argc, argv, std::cout)) {
        return *answered;
    }
    return theApp.InitInstance(argc, argv);
}
