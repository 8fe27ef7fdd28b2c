#include "device/handlers.h"

#include "device/app_dali.h"
#include "device/app_discovery.h"
#include "device/app_genUID.h"
#include "device/app_identify.h"
#include "device/app_setup.h"
#include "link/cablelock.h"
#include "protocol/packet_parser.h"

void handlers_register() {
  CableLockScope hold;
  packet_setHandler(PACKET_HANDLER_SETUP, app_setup_parse);
  packet_setHandler(PACKET_HANDLER_DISCOVERY, app_discovery_parse);
  packet_setHandler(PACKET_HANDLER_GENUID, app_genUid_parse);
  packet_setHandler(PACKET_HANDLER_IDENTIFY, app_identify_parse);
  packet_setHandler(PACKET_HANDLER_DALI, app_dali_parse);
}
