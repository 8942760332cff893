/* The Whorlgate client library: the one header applications include. */
#ifndef WHORLGATE_H
#define WHORLGATE_H

#include "whorlgate/wg_export.h"
#include "whorlgate/wg_results.h"
#include "whorlgate/wg_basic.h"
#include "whorlgate/wg_stream.h"
#include "whorlgate/wg_comm.h"
#include "whorlgate/wg_image.h"
#include "whorlgate/wg_template.h"
#include "whorlgate/wg_transaction.h"
#include "whorlgate/wg_extended.h"
#include "whorlgate/wg_sensor.h"

#endif
