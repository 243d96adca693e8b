/* The translation unit of the layer-check shared objects: they hold only their layer. */
