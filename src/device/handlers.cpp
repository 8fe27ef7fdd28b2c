#include "device/handlers.h"

#include "device/app_discovery.h"
#include "device/app_setup.h"
#include "link/cablelock.h"
#include "protocol/packet_parser.h"

void handlers_register() {
  CableLockScope hold;
  packet_setHandler(PACKET_HANDLER_SETUP, app_setup_parse);
  packet_setHandler(PACKET_HANDLER_DISCOVERY, app_discovery_parse);
}
