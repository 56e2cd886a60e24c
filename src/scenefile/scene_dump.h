#pragma once

// A loaded scene as JSON text, for the scenedump tool and for tests that compare whole
// scenes: the reader's result, the file version and scale, the camera, the lights, the
// settings, the groups and the objects. Numbers are written in their shortest form that reads
// back to the same double; a NaN or an infinity is written as null, which JSON can carry.

#include <cstdint>
#include <string>

class QDocumentBase;
struct SceneSettings;

// The JSON object of the document after LoadSceneFile returned result. The view's camera and
// lights are included when the document has a view. Never fails (std::bad_alloc).
std::string SceneDumpJson(const QDocumentBase& document, const SceneSettings& settings,
                          std::int32_t result);
