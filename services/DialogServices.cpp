#include "services/DialogServices.h"

DialogServices::~DialogServices() = default;
