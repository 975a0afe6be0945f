"""Experiments on tables that live in partitions on a Dask cluster: the workers read, count,
split and sample every row (``dataset``, ``passes``) and score the models on the whole test
split (``aggregates``); the client holds the samples, the statistics and the models."""
