// TavrinAdmin's resource table (made from the manifests of admin/resources). Linking admin_resources
// registers it when the program starts; registering it again changes nothing.
#pragma once

void RegisterAdminResources();
