#pragma once

// The entry points the media engine binds from each library at run time, one X-macro
// list per library. Adding an entry point is one line here: the typed table member
// (FFApi.h), its binding and its clearing all follow from the list.
//
// This header includes nothing, so that a plain C file can expand the lists too (the
// tests build stand-in libraries from them).
//
// VX_<LIB>_FUNCTIONS(X) calls X(name) for every function, VX_<LIB>_VARIABLES(X) for
// every exported variable. Every entry is mandatory: a library that lacks one does not
// count as loaded.

// libavcodec: codecs, packets, parsers, bit-stream filters.
#define VX_AVCODEC_FUNCTIONS(X)                                                                    \
    X(avcodec_version)                                                                             \
    X(avcodec_configuration)                                                                       \
    X(av_codec_iterate)                                                                            \
    X(av_codec_is_encoder)                                                                         \
    X(av_codec_is_decoder)                                                                         \
    X(avcodec_find_decoder)                                                                        \
    X(avcodec_find_decoder_by_name)                                                                \
    X(avcodec_find_encoder)                                                                        \
    X(avcodec_find_encoder_by_name)                                                                \
    X(avcodec_get_name)                                                                            \
    X(avcodec_get_type)                                                                            \
    X(avcodec_get_class)                                                                           \
    X(avcodec_descriptor_get)                                                                      \
    X(avcodec_descriptor_get_by_name)                                                              \
    X(avcodec_profile_name)                                                                        \
    X(av_get_profile_name)                                                                         \
    X(avcodec_alloc_context3)                                                                      \
    X(avcodec_free_context)                                                                        \
    X(avcodec_open2)                                                                               \
    X(avcodec_close)                                                                               \
    X(avcodec_string)                                                                              \
    X(avcodec_flush_buffers)                                                                       \
    X(avcodec_parameters_alloc)                                                                    \
    X(avcodec_parameters_free)                                                                     \
    X(avcodec_parameters_copy)                                                                     \
    X(avcodec_parameters_from_context)                                                             \
    X(avcodec_parameters_to_context)                                                               \
    X(avcodec_send_packet)                                                                         \
    X(avcodec_receive_frame)                                                                       \
    X(avcodec_send_frame)                                                                          \
    X(avcodec_receive_packet)                                                                      \
    X(avcodec_default_get_buffer2)                                                                 \
    X(avcodec_align_dimensions2)                                                                   \
    X(avcodec_find_best_pix_fmt_of_list)                                                           \
    X(avcodec_fill_audio_frame)                                                                    \
    X(avcodec_decode_subtitle2)                                                                    \
    X(avcodec_encode_subtitle)                                                                     \
    X(avsubtitle_free)                                                                             \
    X(av_get_bits_per_sample)                                                                      \
    X(av_get_exact_bits_per_sample)                                                                \
    X(av_get_audio_frame_duration2)                                                                \
    X(av_get_pcm_codec)                                                                            \
    X(av_packet_alloc)                                                                             \
    X(av_packet_free)                                                                              \
    X(av_packet_clone)                                                                             \
    X(av_packet_ref)                                                                               \
    X(av_packet_unref)                                                                             \
    X(av_packet_move_ref)                                                                          \
    X(av_packet_copy_props)                                                                        \
    X(av_packet_make_refcounted)                                                                   \
    X(av_packet_make_writable)                                                                     \
    X(av_packet_rescale_ts)                                                                        \
    X(av_packet_from_data)                                                                         \
    X(av_packet_get_side_data)                                                                     \
    X(av_packet_new_side_data)                                                                     \
    X(av_new_packet)                                                                               \
    X(av_shrink_packet)                                                                            \
    X(av_grow_packet)                                                                              \
    X(av_parser_init)                                                                              \
    X(av_parser_parse2)                                                                            \
    X(av_parser_close)                                                                             \
    X(av_bsf_get_by_name)                                                                          \
    X(av_bsf_alloc)                                                                                \
    X(av_bsf_init)                                                                                 \
    X(av_bsf_send_packet)                                                                          \
    X(av_bsf_receive_packet)                                                                       \
    X(av_bsf_flush)                                                                                \
    X(av_bsf_free)
#define VX_AVCODEC_VARIABLES(X)

// libavdevice: device input and output formats.
#define VX_AVDEVICE_FUNCTIONS(X)                                                                   \
    X(avdevice_version)                                                                            \
    X(avdevice_register_all)                                                                       \
    X(av_input_audio_device_next)                                                                  \
    X(av_input_video_device_next)                                                                  \
    X(avdevice_list_input_sources)                                                                 \
    X(avdevice_free_list_devices)
#define VX_AVDEVICE_VARIABLES(X)

// libavfilter: filter graphs with buffer sources and sinks.
#define VX_AVFILTER_FUNCTIONS(X)                                                                   \
    X(avfilter_version)                                                                            \
    X(av_filter_iterate)                                                                           \
    X(avfilter_get_by_name)                                                                        \
    X(avfilter_get_class)                                                                          \
    X(avfilter_filter_pad_count)                                                                   \
    X(avfilter_pad_get_name)                                                                       \
    X(avfilter_pad_get_type)                                                                       \
    X(avfilter_graph_alloc)                                                                        \
    X(avfilter_graph_free)                                                                         \
    X(avfilter_graph_alloc_filter)                                                                 \
    X(avfilter_graph_create_filter)                                                                \
    X(avfilter_graph_get_filter)                                                                   \
    X(avfilter_graph_parse_ptr)                                                                    \
    X(avfilter_graph_parse2)                                                                       \
    X(avfilter_graph_config)                                                                       \
    X(avfilter_graph_dump)                                                                         \
    X(avfilter_graph_send_command)                                                                 \
    X(avfilter_init_str)                                                                           \
    X(avfilter_init_dict)                                                                          \
    X(avfilter_link)                                                                               \
    X(avfilter_free)                                                                               \
    X(avfilter_inout_alloc)                                                                        \
    X(avfilter_inout_free)                                                                         \
    X(av_buffersrc_parameters_alloc)                                                               \
    X(av_buffersrc_parameters_set)                                                                 \
    X(av_buffersrc_add_frame)                                                                      \
    X(av_buffersrc_add_frame_flags)                                                                \
    X(av_buffersrc_write_frame)                                                                    \
    X(av_buffersrc_get_nb_failed_requests)                                                         \
    X(av_buffersrc_close)                                                                          \
    X(av_buffersink_get_frame)                                                                     \
    X(av_buffersink_get_frame_flags)                                                               \
    X(av_buffersink_get_samples)                                                                   \
    X(av_buffersink_set_frame_size)                                                                \
    X(av_buffersink_get_type)                                                                      \
    X(av_buffersink_get_time_base)                                                                 \
    X(av_buffersink_get_format)                                                                    \
    X(av_buffersink_get_frame_rate)                                                                \
    X(av_buffersink_get_w)                                                                         \
    X(av_buffersink_get_h)                                                                         \
    X(av_buffersink_get_sample_aspect_ratio)                                                       \
    X(av_buffersink_get_sample_rate)                                                               \
    X(av_buffersink_get_ch_layout)
#define VX_AVFILTER_VARIABLES(X)

// libavformat: demuxing, muxing and I/O.
#define VX_AVFORMAT_FUNCTIONS(X)                                                                   \
    X(avformat_version)                                                                            \
    X(avformat_get_class)                                                                          \
    X(avformat_network_init)                                                                       \
    X(avformat_network_deinit)                                                                     \
    X(av_demuxer_iterate)                                                                          \
    X(av_muxer_iterate)                                                                            \
    X(av_find_input_format)                                                                        \
    X(av_guess_format)                                                                             \
    X(av_guess_codec)                                                                              \
    X(av_guess_frame_rate)                                                                         \
    X(av_guess_sample_aspect_ratio)                                                                \
    X(avformat_alloc_context)                                                                      \
    X(avformat_free_context)                                                                       \
    X(avformat_open_input)                                                                         \
    X(avformat_close_input)                                                                        \
    X(avformat_find_stream_info)                                                                   \
    X(av_find_best_stream)                                                                         \
    X(av_find_program_from_stream)                                                                 \
    X(avformat_match_stream_specifier)                                                             \
    X(av_read_frame)                                                                               \
    X(av_read_play)                                                                                \
    X(av_read_pause)                                                                               \
    X(av_seek_frame)                                                                               \
    X(avformat_seek_file)                                                                          \
    X(avformat_flush)                                                                              \
    X(av_dump_format)                                                                              \
    X(avformat_alloc_output_context2)                                                              \
    X(avformat_new_stream)                                                                         \
    X(avformat_query_codec)                                                                        \
    X(avformat_init_output)                                                                        \
    X(avformat_write_header)                                                                       \
    X(av_write_frame)                                                                              \
    X(av_interleaved_write_frame)                                                                  \
    X(av_write_trailer)                                                                            \
    X(av_codec_get_id)                                                                             \
    X(av_codec_get_tag)                                                                            \
    X(av_codec_get_tag2)                                                                           \
    X(av_stream_get_side_data)                                                                     \
    X(av_stream_new_side_data)                                                                     \
    X(av_sdp_create)                                                                               \
    X(av_filename_number_test)                                                                     \
    X(av_get_frame_filename2)                                                                      \
    X(av_url_split)                                                                                \
    X(av_pkt_dump_log2)                                                                            \
    X(av_hex_dump_log)                                                                             \
    X(avio_alloc_context)                                                                          \
    X(avio_context_free)                                                                           \
    X(avio_check)                                                                                  \
    X(avio_find_protocol_name)                                                                     \
    X(avio_enum_protocols)                                                                         \
    X(avio_open)                                                                                   \
    X(avio_open2)                                                                                  \
    X(avio_close)                                                                                  \
    X(avio_closep)                                                                                 \
    X(avio_size)                                                                                   \
    X(avio_seek)                                                                                   \
    X(avio_skip)                                                                                   \
    X(avio_feof)                                                                                   \
    X(avio_flush)                                                                                  \
    X(avio_read)                                                                                   \
    X(avio_write)                                                                                  \
    X(avio_r8)                                                                                     \
    X(avio_w8)                                                                                     \
    X(avio_printf)                                                                                 \
    X(avio_put_str)                                                                                \
    X(avio_open_dyn_buf)                                                                           \
    X(avio_close_dyn_buf)
#define VX_AVFORMAT_VARIABLES(X)

// libavutil: memory, logging, options, dictionaries, maths, pixel and sample formats,
// channel layouts, frames, images, FIFOs, parsing and strings.
#define VX_AVUTIL_FUNCTIONS(X)                                                                     \
    X(avutil_version)                                                                              \
    X(av_version_info)                                                                             \
    X(av_malloc)                                                                                   \
    X(av_mallocz)                                                                                  \
    X(av_calloc)                                                                                   \
    X(av_malloc_array)                                                                             \
    X(av_realloc)                                                                                  \
    X(av_realloc_array)                                                                            \
    X(av_fast_malloc)                                                                              \
    X(av_fast_realloc)                                                                             \
    X(av_free)                                                                                     \
    X(av_freep)                                                                                    \
    X(av_max_alloc)                                                                                \
    X(av_strdup)                                                                                   \
    X(av_strndup)                                                                                  \
    X(av_memdup)                                                                                   \
    X(av_log)                                                                                      \
    X(av_vlog)                                                                                     \
    X(av_log_get_level)                                                                            \
    X(av_log_set_level)                                                                            \
    X(av_log_set_callback)                                                                         \
    X(av_log_default_callback)                                                                     \
    X(av_log_set_flags)                                                                            \
    X(av_log_format_line2)                                                                         \
    X(av_default_item_name)                                                                        \
    X(av_strerror)                                                                                 \
    X(av_dict_get)                                                                                 \
    X(av_dict_count)                                                                               \
    X(av_dict_set)                                                                                 \
    X(av_dict_set_int)                                                                             \
    X(av_dict_parse_string)                                                                        \
    X(av_dict_copy)                                                                                \
    X(av_dict_free)                                                                                \
    X(av_dict_get_string)                                                                          \
    X(av_opt_set_defaults)                                                                         \
    X(av_opt_free)                                                                                 \
    X(av_opt_next)                                                                                 \
    X(av_opt_find)                                                                                 \
    X(av_opt_find2)                                                                                \
    X(av_opt_child_next)                                                                           \
    X(av_opt_child_class_iterate)                                                                  \
    X(av_opt_show2)                                                                                \
    X(av_opt_set)                                                                                  \
    X(av_opt_set_int)                                                                              \
    X(av_opt_set_double)                                                                           \
    X(av_opt_set_q)                                                                                \
    X(av_opt_set_bin)                                                                              \
    X(av_opt_set_image_size)                                                                       \
    X(av_opt_set_pixel_fmt)                                                                        \
    X(av_opt_set_sample_fmt)                                                                       \
    X(av_opt_set_video_rate)                                                                       \
    X(av_opt_set_chlayout)                                                                         \
    X(av_opt_set_dict_val)                                                                         \
    X(av_opt_set_dict)                                                                             \
    X(av_opt_set_dict2)                                                                            \
    X(av_opt_get)                                                                                  \
    X(av_opt_get_int)                                                                              \
    X(av_opt_get_double)                                                                           \
    X(av_opt_get_q)                                                                                \
    X(av_opt_get_chlayout)                                                                         \
    X(av_opt_copy)                                                                                 \
    X(av_int_list_length_for_size)                                                                 \
    X(av_parse_video_size)                                                                         \
    X(av_parse_video_rate)                                                                         \
    X(av_parse_ratio)                                                                              \
    X(av_parse_time)                                                                               \
    X(av_parse_color)                                                                              \
    X(av_find_info_tag)                                                                            \
    X(av_small_strptime)                                                                           \
    X(av_get_token)                                                                                \
    X(av_strtod)                                                                                   \
    X(av_strlcpy)                                                                                  \
    X(av_strlcat)                                                                                  \
    X(av_strstart)                                                                                 \
    X(av_stristart)                                                                                \
    X(av_strcasecmp)                                                                               \
    X(av_strncasecmp)                                                                              \
    X(av_asprintf)                                                                                 \
    X(av_gcd)                                                                                      \
    X(av_reduce)                                                                                   \
    X(av_rescale)                                                                                  \
    X(av_rescale_rnd)                                                                              \
    X(av_rescale_q)                                                                                \
    X(av_rescale_q_rnd)                                                                            \
    X(av_compare_ts)                                                                               \
    X(av_compare_mod)                                                                              \
    X(av_mul_q)                                                                                    \
    X(av_div_q)                                                                                    \
    X(av_add_q)                                                                                    \
    X(av_sub_q)                                                                                    \
    X(av_d2q)                                                                                      \
    X(av_nearer_q)                                                                                 \
    X(av_find_nearest_q_idx)                                                                       \
    X(av_get_time_base_q)                                                                          \
    X(av_gettime)                                                                                  \
    X(av_gettime_relative)                                                                         \
    X(av_usleep)                                                                                   \
    X(av_cpu_count)                                                                                \
    X(av_get_media_type_string)                                                                    \
    X(av_get_picture_type_char)                                                                    \
    X(av_get_pix_fmt)                                                                              \
    X(av_get_pix_fmt_name)                                                                         \
    X(av_get_pix_fmt_string)                                                                       \
    X(av_pix_fmt_desc_get)                                                                         \
    X(av_pix_fmt_desc_next)                                                                        \
    X(av_pix_fmt_desc_get_id)                                                                      \
    X(av_pix_fmt_count_planes)                                                                     \
    X(av_pix_fmt_get_chroma_sub_sample)                                                            \
    X(av_get_bits_per_pixel)                                                                       \
    X(av_get_padded_bits_per_pixel)                                                                \
    X(av_get_pix_fmt_loss)                                                                         \
    X(av_find_best_pix_fmt_of_2)                                                                   \
    X(av_get_sample_fmt)                                                                           \
    X(av_get_sample_fmt_name)                                                                      \
    X(av_get_sample_fmt_string)                                                                    \
    X(av_get_bytes_per_sample)                                                                     \
    X(av_sample_fmt_is_planar)                                                                     \
    X(av_get_packed_sample_fmt)                                                                    \
    X(av_get_planar_sample_fmt)                                                                    \
    X(av_samples_get_buffer_size)                                                                  \
    X(av_samples_fill_arrays)                                                                      \
    X(av_samples_alloc)                                                                            \
    X(av_samples_alloc_array_and_samples)                                                          \
    X(av_samples_copy)                                                                             \
    X(av_samples_set_silence)                                                                      \
    X(av_channel_layout_default)                                                                   \
    X(av_channel_layout_from_mask)                                                                 \
    X(av_channel_layout_from_string)                                                               \
    X(av_channel_layout_copy)                                                                      \
    X(av_channel_layout_uninit)                                                                    \
    X(av_channel_layout_compare)                                                                   \
    X(av_channel_layout_check)                                                                     \
    X(av_channel_layout_describe)                                                                  \
    X(av_frame_alloc)                                                                              \
    X(av_frame_free)                                                                               \
    X(av_frame_ref)                                                                                \
    X(av_frame_unref)                                                                              \
    X(av_frame_move_ref)                                                                           \
    X(av_frame_clone)                                                                              \
    X(av_frame_get_buffer)                                                                         \
    X(av_frame_is_writable)                                                                        \
    X(av_frame_make_writable)                                                                      \
    X(av_frame_copy)                                                                               \
    X(av_frame_copy_props)                                                                         \
    X(av_frame_get_side_data)                                                                      \
    X(av_image_alloc)                                                                              \
    X(av_image_fill_arrays)                                                                        \
    X(av_image_fill_linesizes)                                                                     \
    X(av_image_fill_pointers)                                                                      \
    X(av_image_get_buffer_size)                                                                    \
    X(av_image_get_linesize)                                                                       \
    X(av_image_copy)                                                                               \
    X(av_image_copy_plane)                                                                         \
    X(av_image_copy_to_buffer)                                                                     \
    X(av_image_check_size)                                                                         \
    X(av_image_check_sar)                                                                          \
    X(av_buffer_alloc)                                                                             \
    X(av_buffer_allocz)                                                                            \
    X(av_buffer_create)                                                                            \
    X(av_buffer_pool_init)                                                                         \
    X(av_buffer_pool_get)                                                                          \
    X(av_buffer_pool_uninit)                                                                       \
    X(av_buffer_ref)                                                                               \
    X(av_buffer_unref)                                                                             \
    X(av_audio_fifo_alloc)                                                                         \
    X(av_audio_fifo_free)                                                                          \
    X(av_audio_fifo_realloc)                                                                       \
    X(av_audio_fifo_write)                                                                         \
    X(av_audio_fifo_peek)                                                                          \
    X(av_audio_fifo_read)                                                                          \
    X(av_audio_fifo_drain)                                                                         \
    X(av_audio_fifo_reset)                                                                         \
    X(av_audio_fifo_size)                                                                          \
    X(av_audio_fifo_space)                                                                         \
    X(av_fifo_alloc2)                                                                              \
    X(av_fifo_freep2)                                                                              \
    X(av_fifo_elem_size)                                                                           \
    X(av_fifo_can_read)                                                                            \
    X(av_fifo_can_write)                                                                           \
    X(av_fifo_grow2)                                                                               \
    X(av_fifo_write)                                                                               \
    X(av_fifo_read)                                                                                \
    X(av_fifo_reset2)                                                                              \
    X(av_display_rotation_get)
#define VX_AVUTIL_VARIABLES(X)

// libswscale: picture scaling and pixel-format conversion.
#define VX_SWSCALE_FUNCTIONS(X)                                                                    \
    X(swscale_version)                                                                             \
    X(sws_get_class)                                                                               \
    X(sws_isSupportedInput)                                                                        \
    X(sws_isSupportedOutput)                                                                       \
    X(sws_getContext)                                                                              \
    X(sws_getCachedContext)                                                                        \
    X(sws_freeContext)                                                                             \
    X(sws_scale)                                                                                   \
    X(sws_scale_frame)                                                                             \
    X(sws_getCoefficients)                                                                         \
    X(sws_setColorspaceDetails)                                                                    \
    X(sws_getDefaultFilter)                                                                        \
    X(sws_freeFilter)                                                                              \
    X(sws_alloc_context)
#define VX_SWSCALE_VARIABLES(X)

// libswresample: sample-rate, sample-format and channel-layout conversion.
#define VX_SWRESAMPLE_FUNCTIONS(X)                                                                 \
    X(swresample_version)                                                                          \
    X(swr_get_class)                                                                               \
    X(swr_alloc)                                                                                   \
    X(swr_alloc_set_opts2)                                                                         \
    X(swr_init)                                                                                    \
    X(swr_is_initialized)                                                                          \
    X(swr_close)                                                                                   \
    X(swr_free)                                                                                    \
    X(swr_convert)                                                                                 \
    X(swr_convert_frame)                                                                           \
    X(swr_config_frame)                                                                            \
    X(swr_get_delay)                                                                               \
    X(swr_get_out_samples)                                                                         \
    X(swr_set_compensation)                                                                        \
    X(swr_drop_output)                                                                             \
    X(swr_inject_silence)
#define VX_SWRESAMPLE_VARIABLES(X)

// The C library, always taken from the system: the engine's own file and text
// formatting needs (the log bridge formats FFmpeg's messages with vsnprintf).
#define VX_MYUTIL_FUNCTIONS(X)                                                                     \
    X(fclose)                                                                                      \
    X(fopen)                                                                                       \
    X(fprintf)                                                                                     \
    X(fread)                                                                                       \
    X(fseek)                                                                                       \
    X(ftell)                                                                                       \
    X(fwrite)                                                                                      \
    X(snprintf)                                                                                    \
    X(strtod)                                                                                      \
    X(strtok)                                                                                      \
    X(strtol)                                                                                      \
    X(vsprintf)                                                                                    \
    X(vsnprintf)
#define VX_MYUTIL_VARIABLES(X)
