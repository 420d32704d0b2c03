// The AMQP 0-9-1 frame, every method's arguments and the message content, in one include.
#pragma once

#include "kezAMQP_Classes_Arguments.h"
#include "kezAMQP_Classes_Basic.h"
#include "kezAMQP_Classes_Connection.h"
#include "kezAMQP_Classes_Content.h"
#include "kezAMQP_Classes_Frame.h"
#include "kezAMQP_Classes_PayloadType.h"
#include "kezAMQP_Classes_Queue.h"
