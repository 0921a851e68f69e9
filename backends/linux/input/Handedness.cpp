// The desktop's left-handed setting, where GNOME's settings schema is
// installed; right-handed elsewhere.
#include "input/Handedness.h"

#include <gio/gio.h>

#include <cstring>

namespace quorvane::backends::input {
namespace {

// The key is a boolean for the mouse and an enumeration ("mouse", "left",
// "right") for the touchpad on newer desktops; nullopt means "as the mouse".
std::optional<bool> leftHanded(const char* schemaId) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return false;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, schemaId, TRUE);
    if (!schema) return false;
    std::optional<bool> answer = false;
    if (g_settings_schema_has_key(schema, "left-handed")) {
        GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
        GVariant* value = g_settings_get_value(settings, "left-handed");
        if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) {
            answer = g_variant_get_boolean(value) != FALSE;
        } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
            const char* nick = g_variant_get_string(value, nullptr);
            if (std::strcmp(nick, "left") == 0)
                answer = true;
            else if (std::strcmp(nick, "mouse") == 0)
                answer = std::nullopt;
        }
        g_variant_unref(value);
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return answer;
}

} // namespace

Handedness readHandedness() {
    Handedness hands;
    hands.mouseLeftHanded = leftHanded("org.gnome.desktop.peripherals.mouse").value_or(false);
    hands.touchpadLeftHanded =
        leftHanded("org.gnome.desktop.peripherals.touchpad").value_or(hands.mouseLeftHanded);
    return hands;
}

} // namespace quorvane::backends::input
