#pragma once

// The element names of scene files, object files and the bot elements they carry, shared by
// the readers and the writers so that both sides name the same elements. Attribute keys are
// short and belong to one element each; they stand beside the code that reads or writes
// that element.

#include <string_view>

// The file's first line, written before the root element.
inline constexpr std::string_view SceneXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n";
// The root's "version" as the writer states it (version x 100 is SceneFileVersion).
inline constexpr std::string_view SceneFileVersionText = "2.1";

inline constexpr std::string_view RootElement = "KVXMLFile";
inline constexpr std::string_view ThumbnailElement = "MIN";
inline constexpr std::string_view ViewElement = "View_0";
inline constexpr std::string_view ViewScaleKey = "View_0_Scale";
inline constexpr std::string_view CameraElement = "Camera";
inline constexpr std::string_view CameraStackElement = "Camera_Stack";
inline constexpr std::string_view FogElement = "Fog";
inline constexpr std::string_view FogLayerElement = "VolF";
inline constexpr std::string_view SkyElement = "Sky";
inline constexpr std::string_view GradientElement = "Grad";
inline constexpr std::string_view StarsElement = "Stars";
inline constexpr std::string_view FilterElement = "Filter";
inline constexpr std::string_view InlineFiltersElement = "InlineFilters";
inline constexpr std::string_view ShadowsElement = "Shadows";
inline constexpr std::string_view DisplayElement = "Display";
inline constexpr std::string_view LineElement = "AALine";
inline constexpr std::string_view GroupsElement = "Groups";
inline constexpr std::string_view GroupElement = "Group";
inline constexpr std::string_view LightsElement = "Lights";
inline constexpr std::string_view LightElement = "L";
inline constexpr std::string_view FalloffElement = "FO";
inline constexpr std::string_view OutputElement = "Output";
inline constexpr std::string_view CropRectElement = "CropRect";
inline constexpr std::string_view OldCropElement = "Crop";
inline constexpr std::string_view TexturesElement = "Textures";
inline constexpr std::string_view TextureElement = "KV_TEXTURE";
inline constexpr std::string_view BotsElement = "Toads";
inline constexpr std::string_view MorphLinkElement = "Morph";  // in "Toads", one per bot

// Object records.
inline constexpr std::string_view KvrElement = "KVR";
inline constexpr std::string_view ObjElement = "Obj";
inline constexpr std::string_view ParamElement = "P";
inline constexpr std::string_view SectionElement = "QSect";
inline constexpr std::string_view SectionPartElement = "QSP";
inline constexpr std::string_view SeedPointElement = "ToadOp";

// A bot and the children of it that the bot record holds.
inline constexpr std::string_view BotElement = "Toad";
inline constexpr std::string_view BotNameElement = "name";
inline constexpr std::string_view BotMorphHeadElement = "firstMorph";
inline constexpr std::string_view BotMorphElement = "Morph";  // in "Toad": the morph settings
inline constexpr std::string_view BotMorphTimeElement = "T";
inline constexpr std::string_view BotModeRowElement = "bt";
