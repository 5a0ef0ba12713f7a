// tarvio-cli: builds, prints and checks the data sets (usage: tarvio-cli help).
#include <iostream>
#include <string>
#include <vector>

#include "kxengine.h"
#include "kxexception.h"
#include "tvcli.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    int status = kCliFailure;
    try {
        KxEngineStartup();
        status = RunTarvioCli(arguments, std::cout, std::cerr);
        KxEngineShutdown();
    } catch (KxException& e) {
        std::cerr << "tarvio-cli: " << e.GetErrorMessage() << "\n";
    }
    std::cout.flush();
    return status;
}
