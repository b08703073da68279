"""The subcommands of qv, one module each: register(sub) and run(args)."""
