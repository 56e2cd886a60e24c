#pragma once

// QAction is the base of the mouse actions; it adds nothing to a model object.

#include "object/q_reference_object.h"

class QAction : public QReferenceObject {};
