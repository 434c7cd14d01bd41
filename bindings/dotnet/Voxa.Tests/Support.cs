using System;
using System.Linq;
using System.Reflection;
using Xunit;

// One library, one set of process-wide handlers: the tests take turns.
[assembly: CollectionBehavior(DisableTestParallelization = true)]

namespace Voxa.Tests
{
    /// <summary>The source tree and the build tree the tests were built against.</summary>
    [AttributeUsage(AttributeTargets.Assembly)]
    public sealed class VoxaPaths : Attribute
    {
        public string Root { get; }
        public string Library { get; }
        public string SimLibrary { get; }
        public VoxaPaths(string root, string library, string simLibrary)
        {
            Root = root;
            Library = library;
            SimLibrary = simLibrary;
        }

        public static VoxaPaths Get() => typeof(VoxaPaths).Assembly.GetCustomAttributes<VoxaPaths>().Single();
    }
}
