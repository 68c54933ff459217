/* Orvane scene utilities: the camera, ray intersection tests, inverse kinematics and the change
 * of basis of loaded content. */
#ifndef ORVANE_SCENE_H
#define ORVANE_SCENE_H

#include "orvane/camera.h"
#include "orvane/ray_tests.h"
#include "orvane/ik.h"
#include "orvane/basis_conversion.h"

#endif /* ORVANE_SCENE_H */
