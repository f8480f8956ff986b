// Scene setup, the frame and the dial are not written yet: the shell calls
// them at their places and the program draws the cleared frame only.
#include "scene/scene.h"

Scene scene;

void Scene::Setup() {}

void Scene::RunFrame() {}

void Scene::InitDial() {}
