/* The public header must compile as plain C. */
#include "kv4usbcp.h"

int kv4usbcp_header_is_c(void) { return TKUSB_INVALID_PORT_ERR + TKUSB_BUFFER_MODE_RESPONSE; }
