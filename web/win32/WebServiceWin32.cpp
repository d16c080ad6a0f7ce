// The pages are served on Linux only this round; Windows stations have the event stream.
#include "ledger/UnitDatabase.h"
#include "web/WebService.h"

bool IsLoopbackAddress(const std::string& address) {
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

bool TokenFileIsPrivate(const std::string&, std::string*) {
    return true;
}

bool WebSupported(std::string* reason) {
    *reason =
        "--web is available on Linux only for now; on Windows, follow the station with "
        "--events FILE";
    return false;
}

std::unique_ptr<WebService> WebService::StartStation(const WebOptions&, std::string* error) {
    WebSupported(error);
    return nullptr;
}

std::unique_ptr<WebService> WebService::StartLine(const WebOptions&, std::unique_ptr<UnitDatabase>,
                                                  std::string* error) {
    WebSupported(error);
    return nullptr;
}
