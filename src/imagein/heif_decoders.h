#pragma once
// HEVC and AV1 decoders for libheif that know their memory: libde265 and
// libaom behind libheif's decoder-plugin interface, refusing a coded picture
// over the pixel cap before its pixels are allocated. The sizes libheif
// checks are those the file's boxes state; the coded stream states its own,
// and a few hundred damaged bytes can ask a codec for gigabytes.

#include <libheif/heif_plugin.h>

// The plugins' ids (libheif names a decoder by its id).
inline constexpr const char* kCheckedAv1DecoderId = "vellumcast-aom";
inline constexpr const char* kCheckedHevcDecoderId = "vellumcast-de265";

// The plugins, for heif_register_decoder_plugin.
const heif_decoder_plugin* CheckedAv1DecoderPlugin();
const heif_decoder_plugin* CheckedHevcDecoderPlugin();
