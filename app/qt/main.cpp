#include <iostream>

#include "app/StartupOptions.h"
#include "app/qt/CUpgradeApp.h"

int main(int argc, char** argv) {
    if (const auto answered = AnswerStartupOptions(argc, argv, std::cout)) {
        return *answered;
    }
    return theApp.InitInstance(argc, argv);
}
