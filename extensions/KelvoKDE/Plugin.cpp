// The plugin's entry point: the factory KDE's thumbnail worker finds in
// plugins/kf5/thumbcreator, with the metadata it reads without loading the code.
#include <KPluginFactory>

#include "extensions/KelvoKDE/KelvoThumbnailCreator.h"

// The factory's name is made from the class name, which must therefore be unqualified.
using KelvoThumbnailCreator = kelvo::KelvoThumbnailCreator;
K_PLUGIN_CLASS_WITH_JSON(KelvoThumbnailCreator, "kelvothumbnail.json")

#include "Plugin.moc"
